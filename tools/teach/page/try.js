// "Try": runs the description as it stands on images of the served folders or dropped onto
// the page, as `flexalign run` would with the run settings beside it, and shows each run: the
// overlay (arrangement box yellow, found pieces green, missing pieces red where the part pose
// places them; with no part found, the closest combination the run dropped, dashed), the
// per-piece table with why each missed piece was missed, and the command's own table.
import * as api from './api.js';
import {el} from './panels.js';
import {loadPicture} from './view.js';

const fmt = (v, d) => (typeof v === 'number' ? v.toFixed(d) : '');

export class TryPanel {
  constructor(view, request, show, message) {
    this.view = view;
    this.request = request;  // async () => {doc, masks}
    this.show = show;  // show(entry): the page shows the run's picture
    this.message = message;
    this.entries = [];  // {name, result, picture}
    this.current = null;
    view.layers.push((ctx, v) => { if (this.active) this.draw(ctx, v); });
    document.getElementById('try-one').onclick = () => this.tryNamed([document.getElementById('try-image').value]);
    document.getElementById('try-all').onclick = () =>
      this.tryNamed([...document.getElementById('try-image').options].map(o => o.value));
    const stage = document.getElementById('stage'), note = document.getElementById('drop');
    stage.addEventListener('dragover', e => { e.preventDefault(); note.hidden = false; });
    stage.addEventListener('dragleave', () => { note.hidden = true; });
    stage.addEventListener('drop', e => {
      e.preventDefault();
      note.hidden = true;
      this.tryFiles([...e.dataTransfer.files]);
    });
    document.getElementById('try-file').onchange = e => this.tryFiles([...e.target.files]);
  }

  // The folders' images, without the masks the description uses.
  setImages(names, masks) {
    const select = document.getElementById('try-image');
    const keep = select.value;
    select.replaceChildren(...names.filter(n => !masks.has(n)).map(n => el('option', {value: n, selected: n === keep}, n)));
  }

  async tryNamed(names) {
    for (const name of names.filter(Boolean)) {
      const busy = this.message(`trying ${name}…`);
      try {
        const {doc, masks} = await this.request();
        const result = await api.tryName(doc, masks, name);
        this.add({name, result, url: api.imageUrl(name)});
        busy.done();
      } catch (e) {
        busy.done();
        return this.message(`${name}: ${e.message}`, true);
      }
    }
  }

  async tryFiles(files) {
    for (const file of files) {
      const busy = this.message(`trying ${file.name}…`);
      try {
        const {doc, masks} = await this.request();
        const result = await api.tryFile(doc, masks, file);
        this.add({name: file.name, result, url: result.picture, dropped: true});
        busy.done();
      } catch (e) {
        busy.done();
        return this.message(`${file.name}: ${e.message}`, true);
      }
    }
  }

  add(entry) {
    this.entries = this.entries.filter(x => x.name !== entry.name || x.dropped !== entry.dropped);
    this.entries.push(entry);
    this.renderList();
    this.open(entry);
  }

  renderList() {
    const list = document.getElementById('try-results');
    list.replaceChildren(...this.entries.map(x => {
      const r = x.result.run, best = r.results[0];
      const text = best ? `${best.found ? 'found' : 'NOT FOUND'}, score ${fmt(best.score, 3)}` : 'no part found';
      return el('li', {class: (x === this.current ? 'on ' : '') + (r.found ? 'found' : 'missed'), onclick: () => this.open(x)},
                el('span', {class: 'name'}, x.name + (x.dropped ? ' (dropped)' : '')), el('span', {}, text));
    }));
  }

  async open(entry) {
    this.current = entry;
    this.renderList();
    this.renderTable();
    try {
      entry.picture = entry.picture || await loadPicture(entry.url);
    } catch (e) {
      return this.message(`${entry.name}: ${e.message}`, true);
    }
    this.show(entry);
  }

  // Per result (or, with none, the closest dropped combination): the part, then each piece.
  renderTable() {
    const box = document.getElementById('try-table');
    const e = this.current;
    if (!e) return box.replaceChildren();
    const r = e.result.run;
    const parts = r.results.length ? r.results.map((p, i) => [p, `Result ${i + 1}`])
                                   : r.rejected.map((p, i) => [p, `Dropped combination ${i + 1}`]);
    const out = [el('p', {}, `${e.name} (${r.width} x ${r.height}): ${r.results.length} result(s) in ${fmt(r.time_ms, 1)} ms` +
                             (r.results.length ? '' : r.rejected.length ? '; no part found, the closest the run dropped:' : '; no part found'))];
    for (const [p, label] of parts) {
      out.push(el('h3', {class: p.found ? 'found' : 'missed'},
                  `${label}: ${p.found ? 'found' : 'NOT FOUND'}, score ${fmt(p.score, 3)}, at (${fmt(p.x, 2)}, ${fmt(p.y, 2)}), angle ${fmt(p.angle, 2)}°, scale ${fmt((p.x_scale + p.y_scale) / 2, 4)}`));
      if (!p.found && p.status && p.status.text) out.push(el('p', {class: 'why'}, 'why: ' + p.status.text));
      out.push(el('table', {class: 'pieces'},
        el('tr', {}, ...['piece', 'score', 'x', 'y', 'angle', ''].map(h => el('th', {}, h))),
        ...p.instances.map(i => el('tr', {class: i.found ? 'found' : 'missed'},
          el('td', {}, i.name), el('td', {}, i.found ? fmt(i.score, 3) : '—'), el('td', {}, fmt(i.x, 2)),
          el('td', {}, fmt(i.y, 2)), el('td', {}, fmt(i.angle, 2)),
          el('td', {class: 'why'}, i.found ? 'found' : 'not found: ' + (i.status.text || 'no reason recorded'))))));
    }
    out.push(el('details', {}, el('summary', {}, 'as flexalign run prints it'), el('pre', {}, e.result.table)));
    box.replaceChildren(...out);
  }

  draw(ctx, v) {
    const d = this.current && this.current.result.drawing;
    if (!d) return;
    const parts = d.results.length ? d.results : d.rejected.slice(0, 1);
    ctx.lineWidth = v.px(2);
    ctx.font = `${v.px(12)}px sans-serif`;
    for (const p of parts) {
      if (!d.results.length) ctx.setLineDash([v.px(6), v.px(4)]);
      poly(ctx, p.box.concat([p.box[0]]), '#ffd200');
      for (const piece of p.pieces) {
        const colour = piece.found ? '#00eb3c' : '#ff2828';
        for (const line of piece.lines) poly(ctx, line, colour);
        if (!piece.lines.length) {
          ctx.strokeStyle = colour;
          ctx.beginPath();
          ctx.arc(piece.at[0], piece.at[1], v.px(5), 0, 2 * Math.PI);
          ctx.stroke();
        }
        ctx.fillStyle = colour;
        ctx.fillText(piece.name, piece.at[0] + v.px(6), piece.at[1] - v.px(6));
      }
      ctx.setLineDash([]);
    }
  }
}

function poly(ctx, pts, colour) {
  ctx.strokeStyle = colour;
  ctx.beginPath();
  pts.forEach((q, i) => (i ? ctx.lineTo(q[0], q[1]) : ctx.moveTo(q[0], q[1])));
  ctx.stroke();
}
