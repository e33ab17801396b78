// The side panel: the list of pieces, the selected piece (name, engine, region, mask, run
// settings, placements, and what its engine trained), the part's origin, the run settings
// and the warnings. Edits go into the part at once; `changed()` says a new training or check
// is due.

import {limits} from './model.js';

export function el(tag, attrs, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (k.startsWith('on')) e.addEventListener(k.slice(2), v);
    else if (k === 'class') e.className = v;
    else if (v !== false && v !== null && v !== undefined) e.setAttribute(k, v === true ? '' : v);
  }
  for (const c of children.flat()) if (c !== null && c !== undefined) e.append(c);
  return e;
}

const num = v => (v === '' || v === null || v === undefined ? null : Number(v));

function numberInput(id, value, onchange, attrs) {
  return el('input', Object.assign({id, type: 'number', step: 'any', value: value ?? '', onchange: e => onchange(num(e.target.value), e.target)}, attrs || {}));
}

export class Panels {
  constructor(part, editor, changed, message) {
    this.part = part;
    this.editor = editor;
    this.changed = changed;  // changed(rerender = true): the description changed
    this.message = message;
    this.trained = {pieces: [], overlaps: []};
    this.problem = null;  // {text, path} of the description's refusal
    this.bindRun();
  }

  // ---- pieces ----

  render() {
    this.renderList();
    this.renderPiece();
    this.renderWarnings();
    document.getElementById('origin-x').value = this.part.origin ? this.part.origin[0] : '';
    document.getElementById('origin-y').value = this.part.origin ? this.part.origin[1] : '';
  }

  // After a training: the list's marks, the selected piece's trained view and the warnings,
  // leaving the fields being typed in alone.
  refreshTrained() {
    this.renderList();
    const old = document.getElementById('trained');
    if (old && this.editor.selected) old.replaceWith(this.renderTrained(this.editor.selected.piece));
    this.renderWarnings();
  }

  renderList() {
    const list = document.getElementById('pieces');
    list.replaceChildren(...this.part.pieces.map(piece => {
      const t = this.editor.trained.get(piece.name);
      const count = this.part.placements.filter(pl => pl.piece === piece).length;
      const bad = t && (t.error || t.warnings.length);
      const on = this.editor.selected && this.editor.selected.piece === piece;
      return el('li', {class: (on ? 'on ' : '') + (t && t.error ? 'error' : bad ? 'warn' : ''),
                       onclick: () => this.editor.select(this.part.placements.find(pl => pl.piece === piece))},
                el('span', {class: 'name'}, piece.name),
                el('span', {class: 'badge'}, piece.kind === 'blank' ? 'blank' : `${piece.kind}, ${piece.engine}`),
                count > 1 ? el('span', {class: 'badge'}, `${count} placed`) : null,
                bad ? el('span', {class: 'mark', title: t.error || t.warnings.join('\n')}, '!') : null);
    }));
    if (!this.part.pieces.length)
      list.append(el('li', {class: 'hint'}, 'No pieces yet: choose Rectangle and drag one over the training image.'));
  }

  renderPiece() {
    const box = document.getElementById('piece');
    const pl = this.editor.selected;
    if (!pl) return box.replaceChildren();
    const piece = pl.piece, part = this.part;
    const placements = part.placements.filter(q => q.piece === piece);
    const names = part.placementNames();
    const run = piece.extra.run || {};
    const setRun = (key, value) => {
      const r = Object.assign({}, piece.extra.run || {});
      if (value === null || value === undefined) delete r[key]; else r[key] = value;
      if (Object.keys(r).length) piece.extra.run = r; else delete piece.extra.run;
      this.changed(false);
    };
    const rows = [
      el('label', {}, 'Name', el('input', {id: 'piece-name', value: piece.name, onchange: e => {
        const why = part.rename(piece, e.target.value.trim());
        if (why) { this.message(why, true); e.target.value = piece.name; }
        this.changed();
      }})),
      el('label', {}, 'Engine', el('select', {id: 'piece-engine', disabled: !piece.isImage(), onchange: e => {
        piece.engine = e.target.value;
        this.changed(false);
      }}, ...['geofind', 'correlation'].map(v => el('option', {value: v, selected: piece.engine === v}, v)))),
    ];
    if (piece.isImage()) {
      const r = piece.region;
      const setRegion = (i, v) => {
        const next = r.slice();
        next[i] = Math.round(v);
        if (!Number.isFinite(next[i])) return this.render();
        const [W, H] = part.size;
        const side = limits.minRegionSide;
        next[2] = Math.max(side, Math.min(next[2], W)), next[3] = Math.max(side, Math.min(next[3], H));
        next[0] = Math.max(0, Math.min(next[0], W - next[2])), next[1] = Math.max(0, Math.min(next[1], H - next[3]));
        if (i < 2) piece.moveRegion(next[0] - r[0], next[1] - r[1], part.size); else piece.resizeRegion(next);
        this.changed();
      };
      rows.push(el('div', {class: 'row'}, 'Region',
                   ...['x', 'y', 'width', 'height'].map((n, i) => numberInput(`region-${n}`, r[i], v => setRegion(i, v), {title: n, step: 1}))));
      const m = piece.mask;
      let maskText = 'none: the whole region is matched';
      if (m && m.data) {
        const out = m.data.reduce((s, v) => s + (v ? 0 : 1), 0);
        maskText = `painted: ${Math.round(100 * out / m.data.length)} % of the region left out`;
      } else if (m) {
        maskText = m.note || `from ${m.name}`;
      }
      rows.push(el('div', {class: 'mask'}, el('div', {}, 'Mask: ', el('span', {id: 'mask-state'}, maskText)),
        el('div', {class: 'row'},
           el('button', {onclick: () => this.useTool('brush'), title: 'Paint over the piece (B)'}, 'Brush'),
           el('button', {onclick: () => this.useTool('polygon'), title: 'Click corners; click the first or double-click to close (P)'}, 'Polygon'),
           el('label', {}, el('input', {type: 'radio', name: 'paint', checked: this.editor.brush.keep, onchange: () => { this.editor.brush.keep = true; }}), 'keep'),
           el('label', {}, el('input', {type: 'radio', name: 'paint', checked: !this.editor.brush.keep, onchange: () => { this.editor.brush.keep = false; }}), 'leave out'),
           el('label', {title: 'brush radius, pixels'}, 'radius', numberInput('brush-radius', this.editor.brush.radius, v => { this.editor.brush.radius = Math.max(1, Math.min(200, v || 1)); }, {step: 1, min: 1}))),
        m ? el('button', {onclick: () => { piece.clearMask(); this.changed(); }}, 'Clear mask') : null));
    }
    rows.push(el('div', {class: 'row'},
      el('label', {title: 'a part is not found without this piece'}, el('input', {id: 'piece-required', type: 'checkbox', checked: !!run.required, onchange: e => setRun('required', e.target.checked || null)}), 'required'),
      el('label', {title: 'the score this piece must reach (0 to 1; empty: the default)'}, 'accept', numberInput('piece-accept', run.acceptThreshold, v => setRun('acceptThreshold', v), {min: 0, max: 1, step: 0.05}))));
    // Placements: where each instance of the piece lies.
    rows.push(el('h3', {}, 'Placed'));
    for (const q of placements) {
      const i = part.placements.indexOf(q), pose = q.poseOf();
      const set = (k, v) => {
        if (v === null || !Number.isFinite(v)) return this.render();
        q.pose = Object.assign({}, pose, {[k]: v});
        this.changed(false);
      };
      rows.push(el('div', {class: 'row placement' + (q === pl ? ' on' : ''), onclick: e => { if (e.target.tagName !== 'INPUT') this.editor.select(q); }},
        el('span', {class: 'name'}, names[i]),
        q.pose ? null : el('span', {class: 'badge', title: 'where its region lies in the training image'}, 'as drawn'),
        numberInput(`pose-x-${i}`, pose.x, v => set('x', v), {title: 'x'}),
        numberInput(`pose-y-${i}`, pose.y, v => set('y', v), {title: 'y'}),
        numberInput(`pose-angle-${i}`, pose.angle, v => set('angle', v), {title: 'angle, degrees'}),
        el('button', {title: 'remove this placement', onclick: () => { part.removePlacement(q); this.editor.select(part.placements.find(p => p.piece === piece) || null); this.changed(); }}, '×')));
    }
    rows.push(el('div', {class: 'row'},
      el('button', {id: 'place-again', onclick: () => { this.editor.select(part.placeAgain(piece)); this.changed(); }, title: 'place this piece once more; drag the copy where it lies'}, 'Place again'),
      el('button', {id: 'delete-piece', class: 'danger', onclick: () => { part.removePiece(piece); this.editor.select(null); this.changed(); }}, 'Delete piece')));
    rows.push(this.renderTrained(piece));
    box.replaceChildren(...rows);
  }

  useTool(tool) {
    this.editor.setTool(tool);
    document.querySelectorAll('[data-tool]').forEach(b => b.classList.toggle('on', b.dataset.tool === tool));
  }

  // What the engine trained for the piece: its edge points or its template.
  renderTrained(piece) {
    const t = this.editor.trained.get(piece.name);
    const box = el('div', {id: 'trained', class: 'trained'}, el('h3', {}, 'Trained'));
    if (!t) {
      box.append(el('p', {class: 'hint'}, this.problem ? 'not trained: the description is refused (see the status line)' : 'training…'));
      return box;
    }
    if (t.error) box.append(el('p', {class: 'error'}, t.error));
    if (t.edges)
      box.append(el('p', {}, `${t.edges.fine} edge points at the fine grain (${t.edges.fineGrain} px), ${t.edges.coarse} at the coarse grain (${t.edges.coarseGrain} px): the cyan dots are what Geofind matches.`));
    if (t.template)
      box.append(el('p', {}, `Template ${t.template.width} x ${t.template.height}, correlated at 1/${t.template.reduction} first, contrast ${t.template.contrast}; chequered pixels are left out:`),
                 el('img', {class: 'template', src: t.template.png, alt: 'the correlation template',
                            style: `width:${Math.min(260, t.template.width * 2)}px`}));
    if (piece.kind === 'blank') box.append(el('p', {class: 'hint'}, 'A blank piece matches nothing: it is placed where the others put it.'));
    for (const w of t.warnings) box.append(el('p', {class: 'warn'}, w));
    return box;
  }

  renderWarnings() {
    const list = document.getElementById('warnings');
    const items = [];
    if (this.problem) items.push(el('li', {class: 'error'}, this.problem.text));
    for (const o of this.trained.overlaps || []) items.push(el('li', {class: 'error'}, o.text));
    for (const t of this.trained.pieces || [])
      for (const w of (t.error ? [t.error] : []).concat(t.warnings || [])) items.push(el('li', {class: t.error ? 'error' : 'warn'}, `${t.name}: ${w}`));
    if (!items.length) items.push(el('li', {class: 'hint'}, 'None.'));
    list.replaceChildren(...items);
  }

  // ---- the part's origin and the run settings ----

  bindRun() {
    const part = this.part;
    const origin = (i, v) => {
      if (v === null) return this.render();
      part.origin = part.origin ? part.origin.slice() : [0, 0];
      part.origin[i] = v;
      this.changed();
    };
    document.getElementById('origin-x').onchange = e => origin(0, num(e.target.value));
    document.getElementById('origin-y').onchange = e => origin(1, num(e.target.value));
    const form = document.getElementById('run');
    form.addEventListener('change', () => {
      this.readRun();
      this.changed(false);
    });
    form.addEventListener('submit', e => e.preventDefault());
    this.writeRun();
  }

  writeRun() {
    const r = this.part.run, f = id => document.getElementById(id);
    const start = r.start || {};
    f('start-x').value = start.x ?? '';
    f('start-y').value = start.y ?? '';
    f('start-angle').value = start.angle ?? '';
    f('start-scale').value = start.scale ?? '';
    f('unc-x').value = r.xyUncertainty ? r.xyUncertainty[0] : '';
    f('unc-y').value = r.xyUncertainty ? r.xyUncertainty[1] : '';
    f('angle-low').value = r.angle ? r.angle[0] : '';
    f('angle-high').value = r.angle ? r.angle[1] : '';
    f('scale-low').value = r.scale ? r.scale[0] : '';
    f('scale-high').value = r.scale ? r.scale[1] : '';
    f('strategy').value = r.strategy || 'locallyFixtured';
    f('num-to-find').value = r.numToFind ?? '';
    f('accept').value = r.acceptThreshold ?? '';
  }

  // The form into the description's run settings: an empty field leaves the setting out (its
  // default), half a pair is completed with the default's other half.
  readRun() {
    const r = this.part.run, v = id => num(document.getElementById(id).value);
    const start = {};
    for (const k of ['x', 'y', 'angle', 'scale']) if (v(`start-${k}`) !== null) start[k] = v(`start-${k}`);
    if (Object.keys(start).length) {
      const o = this.part.origin || [0, 0];
      r.start = Object.assign({x: o[0], y: o[1]}, start);
    } else {
      delete r.start;
    }
    const pair = (key, a, b, fill) => {
      if (v(a) === null && v(b) === null) delete r[key];
      else r[key] = [v(a) ?? fill[0], v(b) ?? fill[1]];
    };
    pair('xyUncertainty', 'unc-x', 'unc-y', [0, 0]);
    pair('angle', 'angle-low', 'angle-high', [0, 0]);
    pair('scale', 'scale-low', 'scale-high', [1, 1]);
    r.strategy = document.getElementById('strategy').value;
    if (v('num-to-find') === null) delete r.numToFind; else r.numToFind = v('num-to-find');
    if (v('accept') === null) delete r.acceptThreshold; else r.acceptThreshold = v('accept');
  }
}
