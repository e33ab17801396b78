// "Inspect": a golden model trained by the server from good images picked here, with the
// pattern the description trains as it stands; then an image inspected with it, each defect
// outlined in red on the image and named (its piece, area and excess over tolerance), and the
// verdict, as `flexalign inspect run` gives them.
import * as api from './api.js';
import {el} from './panels.js';
import {loadPicture} from './view.js';

const $ = id => document.getElementById(id);
const LEAST = 5;  // the golden model's fewest good images

export class InspectPanel {
  constructor(view, request, show, message) {
    this.view = view;
    this.request = request;  // async () => {doc, masks}
    this.show = show;  // show(entry): the page shows the inspected image
    this.message = message;
    this.picked = new Set();
    this.model = null;  // the last training's answer
    this.current = null;  // {name, result, url, picture}
    view.layers.push((ctx, v) => { if (this.active) this.draw(ctx, v); });
    $('golden-all').onclick = () => this.pick(this.names);
    $('golden-none').onclick = () => this.pick([]);
    $('golden-train').onclick = () => this.train();
    $('golden-save').onclick = () => this.save();
    $('inspect-one').onclick = () => this.inspect($('inspect-image').value, null);
    $('inspect-file').onchange = e => {
      const file = e.target.files[0];
      e.target.value = '';  // the same file picked again is inspected again
      if (file) this.inspect(file.name, file);
    };
    this.names = [];
  }

  // The folders' images, as Try offers them.
  setImages(names, masks) {
    this.names = names.filter(n => !masks.has(n));
    const keep = $('inspect-image').value;
    $('inspect-image').replaceChildren(...this.names.map(n => el('option', {value: n, selected: n === keep}, n)));
    this.pick(this.names.filter(n => this.picked.has(n)));
  }

  pick(names) {
    this.picked = new Set(names);
    $('golden-images').replaceChildren(...this.names.map(n => el('li', {},
      el('label', {}, el('input', {type: 'checkbox', value: n, checked: this.picked.has(n), onchange: e => {
        if (e.target.checked) this.picked.add(n); else this.picked.delete(n);
        this.count();
      }}), n))));
    this.count();
  }

  count() {
    const n = this.picked.size;
    $('golden-count').textContent = `${n} picked` + (n < LEAST ? ` (at least ${LEAST})` : '');
    $('golden-train').disabled = n < LEAST;
  }

  async train() {
    const names = this.names.filter(n => this.picked.has(n));
    const busy = this.message(`training the golden model on ${names.length} images…`);
    try {
      const {doc, masks} = await this.request();
      const m = await api.golden(doc, masks, names);
      busy.done();
      this.model = m;
      $('golden-state').className = '';
      $('golden-state').textContent =
        `${m.used} of ${m.given} images used; the model covers ${(100 * m.coverage).toFixed(1)} % of the part's ` +
        `${m.region[0]} x ${m.region[1]} pixels` + (m.left.length ? `; part not found in ${m.left.join(', ')}` : '');
      $('golden-save').disabled = false;
      $('golden-save').title = `Write ${m.target} for flexalign inspect run`;
    } catch (e) {
      busy.done();
      $('golden-state').className = 'error';
      $('golden-state').textContent = `not trained: ${e.message}`;
      this.message(`golden model not trained: ${e.message}`, true);
    }
  }

  async save() {
    try {
      const r = await api.saveGolden();
      this.message(`saved ${r.saved}: inspect with flexalign inspect run ${r.saved} IMAGES`);
    } catch (e) {
      this.message(`golden model not saved: ${e.message}`, true);
    }
  }

  async inspect(name, file) {
    if (!name) return;
    const busy = this.message(`inspecting ${name}…`);
    try {
      const result = file ? await api.inspectFile(file) : await api.inspectName(name);
      const entry = {name, result, url: file ? result.picture : api.imageUrl(name)};
      entry.picture = await loadPicture(entry.url);
      busy.done();
      this.current = entry;
      this.render();
      this.show(entry);
    } catch (e) {
      busy.done();
      this.message(`${name}: ${e.message}`, true);
    }
  }

  render() {
    const r = this.current.result.inspection;
    const verdict = r.verdict === 'pass' ? 'PASS' : r.verdict === 'fail' ? `FAIL, ${r.defects.length} defect(s)`
                                                                         : `NOT FOUND: ${r.reason}`;
    $('inspect-result').replaceChildren(
      el('h3', {class: r.verdict === 'pass' ? 'found' : 'missed', id: 'inspect-verdict'}, `${this.current.name}: ${verdict}`),
      r.defects.length ? el('table', {class: 'pieces'},
        el('tr', {}, ...['', 'piece', 'x', 'y', 'area', 'excess'].map(h => el('th', {}, h))),
        ...r.defects.map((d, i) => el('tr', {class: 'missed'}, ...[i + 1, d.piece || 'no piece', d.x.toFixed(2), d.y.toFixed(2), d.area, d.excess.toFixed(1)]
          .map(v => el('td', {}, String(v)))))) : null);
  }

  // Each defect's box, a little larger than its pixels, and its number and piece.
  draw(ctx, v) {
    const r = this.current && this.current.result.inspection;
    if (!r) return;
    ctx.lineWidth = v.px(2);
    ctx.font = `${v.px(12)}px sans-serif`;
    ctx.strokeStyle = ctx.fillStyle = '#ff2828';
    r.defects.forEach((d, i) => {
      const [x, y, w, h] = d.bbox, m = v.px(3);
      ctx.strokeRect(x - 0.5 - m, y - 0.5 - m, w + 2 * m, h + 2 * m);
      ctx.fillText(`${i + 1} ${d.piece || 'no piece'}: ${d.area} px, +${d.excess.toFixed(0)}`, x - 0.5 - m, y - 0.5 - m - v.px(4));
    });
  }
}
