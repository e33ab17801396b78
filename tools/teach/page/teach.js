// The teach page: loads the session (training image, the description being edited), wires
// the training view's tools, the side panel and Try together, asks the server to train the
// description after every change (what each piece will match, and why the description is
// refused if it is), and saves it.
import * as api from './api.js';
import {Editor} from './edit.js';
import {InspectPanel} from './inspect.js';
import {Part, limits} from './model.js';
import {Panels} from './panels.js';
import {TryPanel} from './try.js';
import {View, loadPicture} from './view.js';

const $ = id => document.getElementById(id);

// One line at the foot of the page; a busy message is cleared by its done() unless another
// took its place.
let shown = 0;
function message(text, error) {
  const id = ++shown;
  $('status').textContent = text;
  $('status').className = error ? 'error' : '';
  return {done: () => { if (id === shown) $('status').textContent = ''; }};
}

// A painted mask as the PNG the server writes: grey, 255 kept, 0 left out.
function maskBlob(piece) {
  const m = piece.mask, [, , w, h] = piece.region;
  if (m.blob && m.blobVersion === m.version && m.blobSize === w * h) return m.blob;
  const c = document.createElement('canvas');
  c.width = w;
  c.height = h;
  const ctx = c.getContext('2d'), img = ctx.createImageData(w, h);
  for (let i = 0; i < w * h; ++i) img.data.set([m.data[i], m.data[i], m.data[i], 255], 4 * i);
  ctx.putImageData(img, 0, 0);
  m.blob = new Promise(resolve => c.toBlob(resolve, 'image/png'));
  m.blobVersion = m.version;
  m.blobSize = w * h;
  return m.blob;
}

// The masks an opened description names, as the page edits them (region-sized, 0 or 255).
async function loadMasks(part) {
  for (const piece of part.pieces) {
    const m = piece.mask;
    if (!m || m.data || !piece.region) continue;
    try {
      const res = await fetch(api.imageUrl(m.name));
      if (!res.ok) throw new Error((await res.json()).error);
      if (res.headers.get('X-Teach-Shrink') !== '1') throw new Error('too large to paint here; it is kept as it is');
      const bmp = await createImageBitmap(await res.blob());
      const [x, y, w, h] = piece.region, [W, H] = part.size;
      let sx;
      if (bmp.width === W && bmp.height === H) sx = [x, y];
      else if (bmp.width === w && bmp.height === h) sx = [0, 0];
      else throw new Error(`${bmp.width} x ${bmp.height}, the size of neither the training image nor the region`);
      const c = document.createElement('canvas');
      c.width = w;
      c.height = h;
      const ctx = c.getContext('2d', {willReadFrequently: true});
      ctx.drawImage(bmp, sx[0], sx[1], w, h, 0, 0, w, h);
      const px = ctx.getImageData(0, 0, w, h).data;
      m.data = new Uint8Array(w * h);
      for (let i = 0; i < w * h; ++i) m.data[i] = px[4 * i] >= 128 ? 255 : 0;
    } catch (e) {
      m.note = `mask ${m.name}: ${e.message}`;
    }
  }
}

async function main() {
  let s;
  try {
    s = await api.session();
  } catch (e) {
    return message(e.message, true);
  }
  Object.assign(limits, s.limits);
  for (const id of ['unc-x', 'unc-y']) $(id).max = limits.maxUncertainty;
  for (const id of ['angle-low', 'angle-high']) $(id).min = -limits.maxAngle, $(id).max = limits.maxAngle;
  $('num-to-find').max = limits.maxNumToFind;
  const size = [s.width, s.height];
  const title = exists => { $('file').textContent = `${s.description}${exists ? '' : ' (new)'} — ${s.trainImage}, ${s.width} x ${s.height}`; };
  title(s.exists);
  let part = Part.fresh(s.trainImage, size);
  if (s.doc) {
    try {
      part = Part.fromDoc(JSON.parse(s.doc), s.trainImage, size);
    } catch (e) {
      // Saving the page's empty part would throw the file away: it is left for mending by hand.
      message(`${s.description}: the page cannot show this description (${e.message}); mend it by hand`, true);
      $('save').disabled = true;
    }
  }
  await loadMasks(part);
  const view = new View($('canvas'));
  const training = await loadPicture(api.imageUrl(s.trainImage));
  view.show(training, size);

  let version = 0, timer = 0, dirty = false;
  const request = async () => {
    // Masks are named first: the description names their files.
    const named = part.paintedMasks(), doc = part.toDoc(), masks = {};
    for (const [name, piece] of Object.entries(named)) masks[name] = await maskBlob(piece);
    return {doc, masks};
  };
  const usedMasks = () => new Set(part.pieces.filter(p => p.mask && p.mask.name).map(p => p.mask.name));

  const editor = new Editor(view, part, (what, text) => {
    if (what === 'message') return message(text, true);
    if (what === 'select') return panels.render();
    changed();
  });
  const panels = new Panels(part, editor, rerender => changed(rerender), message);
  const tryPanel = new TryPanel(view, request, entry => showTab('try', entry), message);
  tryPanel.setImages(s.images, usedMasks());
  const inspectPanel = new InspectPanel(view, request, entry => showTab('inspect', entry), message);
  inspectPanel.setImages(s.images, usedMasks());

  function changed(rerender = true) {
    ++version;
    dirty = true;
    $('save').classList.add('due');
    if (rerender) panels.render();
    view.redraw();
    clearTimeout(timer);
    timer = setTimeout(train, 300);
  }

  // What the server trained from the description as it stands now.
  async function train() {
    const v = version;
    if (!part.pieces.length) {
      editor.trained.clear();
      editor.flagged.clear();
      panels.trained = {pieces: [], overlaps: []};
      panels.problem = null;
      return panels.refreshTrained();
    }
    try {
      const {doc, masks} = await request();
      const t = await api.pieces(doc, masks);
      if (v !== version) return;
      panels.problem = null;
      panels.trained = t;
      editor.trained = new Map(t.pieces.map(p => [p.name, p]));
      editor.flagged = new Map();
      const byName = new Map(t.instances.map((n, i) => [n, part.placements[i]]));
      part.placements.forEach(pl => {
        const p = editor.trained.get(pl.piece.name);
        if (p && (p.error || p.warnings.length)) editor.flagged.set(pl, p.error ? 'clash' : 'warn');
      });
      for (const o of t.overlaps) for (const n of [o.first, o.second]) if (byName.get(n)) editor.flagged.set(byName.get(n), 'clash');
    } catch (e) {
      if (v !== version) return;
      panels.problem = {text: e.message};
      panels.trained = {pieces: [], overlaps: []};
      editor.trained.clear();
      editor.flagged.clear();
      point(e.message);
    }
    panels.refreshTrained();
    view.redraw();
  }

  // A refusal that names a piece or placement by its JSON path selects it.
  function point(text) {
    const sub = /at \/subModels\/(\d+)/.exec(text), inst = /at \/instances\/(\d+)/.exec(text);
    let pl = null;
    if (sub) pl = part.placements.find(q => q.piece === part.pieces[Number(sub[1])]);
    if (inst) pl = part.placements[Number(inst[1])];
    if (pl && pl !== editor.selected) editor.select(pl);
  }

  async function save() {
    const busy = message('saving…');
    try {
      const {doc, masks} = await request();
      const r = await api.save(doc, masks);
      busy.done();
      for (const piece of part.pieces) if (piece.mask && masks[piece.mask.name]) piece.mask.dirty = false;
      if (!part.pieces.some(p => p.mask && p.mask.dirty)) {
        dirty = false;
        $('save').classList.remove('due');
      }
      message(`saved ${r.files.join(', ')}: train it with flexalign train ${r.saved} -o PATTERN`);
      title(true);
      const again = await api.session();
      tryPanel.setImages(again.images, usedMasks());
      inspectPanel.setImages(again.images, usedMasks());
    } catch (e) {
      busy.done();
      message(`not saved: ${e.message}`, true);
      point(e.message);
    }
  }

  // The training image (the tools act on it), a tried image or an inspected one.
  function showTab(mode, entry) {
    const trying = mode === 'try' && entry, inspecting = mode === 'inspect' && entry;
    tryPanel.active = !!trying;
    inspectPanel.active = !!inspecting;
    editor.enabled = !trying && !inspecting;
    $('tab-train').classList.toggle('on', editor.enabled);
    $('tab-try').classList.toggle('on', !!trying);
    $('tab-inspect').classList.toggle('on', !!inspecting);
    $('tab-try').hidden = !tryPanel.current;
    if (tryPanel.current) $('tab-try').textContent = `Try: ${tryPanel.current.name}`;
    $('tab-inspect').hidden = !inspectPanel.current;
    if (inspectPanel.current) $('tab-inspect').textContent = `Inspect: ${inspectPanel.current.name}`;
    if (trying) view.show(entry.picture, [entry.result.run.width, entry.result.run.height], true);
    else if (inspecting) view.show(entry.picture, [entry.result.width, entry.result.height], true);
    else view.show(training, size, true);
  }

  // ---- controls ----
  const tools = {v: 'select', r: 'rect', b: 'brush', p: 'polygon', o: 'origin'};
  document.querySelectorAll('[data-tool]').forEach(b => { b.onclick = () => { showTab('train'); panels.useTool(b.dataset.tool); }; });
  panels.useTool('select');
  $('fit').onclick = () => view.fit();
  $('one').onclick = () => view.actualSize();
  $('zin').onclick = () => view.zoomAt([view.canvas.clientWidth / 2, view.canvas.clientHeight / 2], 1.5);
  $('zout').onclick = () => view.zoomAt([view.canvas.clientWidth / 2, view.canvas.clientHeight / 2], 1 / 1.5);
  $('edges').onchange = e => { editor.showEdges = e.target.checked; view.redraw(); };
  $('save').onclick = save;
  $('tab-train').onclick = () => showTab('train');
  $('tab-try').onclick = () => tryPanel.current && showTab('try', tryPanel.current);
  $('tab-inspect').onclick = () => inspectPanel.current && showTab('inspect', inspectPanel.current);
  document.addEventListener('keydown', e => {
    if ((e.ctrlKey || e.metaKey) && e.key === 's') {
      e.preventDefault();
      return save();
    }
    if (/^(INPUT|SELECT|TEXTAREA)$/.test(document.activeElement.tagName)) return;
    if (e.key === 'Escape') editor.cancel();
    else if ((e.key === 'Delete' || e.key === 'Backspace') && editor.selected) {
      part.removePlacement(editor.selected);
      editor.select(null);
      changed();
    } else if (tools[e.key]) {
      showTab('train');
      panels.useTool(tools[e.key]);
    }
  });
  window.addEventListener('beforeunload', e => { if (dirty) e.preventDefault(); });

  panels.render();
  if (s.problem) {
    panels.problem = {text: s.problem};
    message(s.problem, true);
  }
  train();
  // For tests and the curious: the page's state, read only.
  window.teach = {part, view, editor, inspectPanel};
}

main();
