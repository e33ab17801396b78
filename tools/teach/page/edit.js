// The tools on the training image: select (click a piece; drag it, or a handle of its region
// to resize it; drag the origin; drag elsewhere to pan), rectangle (drag a new piece), brush
// (paint the selected piece's mask: keep or leave out), polygon (click corners of a mask area,
// click the first corner or double-click to close; Escape drops it) and origin (click where
// the part's origin lies). Draws the pieces, their masks, the trained edge points and the
// warnings over the picture.
import {limits} from './model.js';

const HANDLE = 5;  // half size of a resize handle, screen pixels
const COLOURS = {piece: '#2ee86a', selected: '#ffd400', warn: '#ff9f1a', clash: '#ff4040',
                 copy: '#6fd3ff', origin: '#00dcff', edge: '#00e5ff'};

export class Editor {
  constructor(view, part, notify) {
    this.view = view;
    this.part = part;
    this.notify = notify;  // notify('geometry' | 'select' | 'message', text)
    this.tool = 'select';
    this.selected = null;  // a Placement
    this.brush = {keep: true, radius: 6};
    this.poly = [];
    this.drag = null;
    this.hover = null;
    this.showEdges = true;
    this.trained = new Map();  // piece name -> its trained view (server)
    this.flagged = new Map();  // placement -> 'clash' | 'warn'
    this.enabled = true;
    view.layers.push((ctx, v) => this.draw(ctx, v));
    const c = view.canvas;
    c.addEventListener('pointerdown', e => this.down(e));
    c.addEventListener('pointermove', e => this.move(e));
    c.addEventListener('pointerup', e => this.up(e));
    c.addEventListener('dblclick', e => { if (this.tool === 'polygon') this.closePolygon(); e.preventDefault(); });
  }

  setTool(tool) {
    this.tool = tool;
    this.poly = [];
    this.view.canvas.dataset.tool = tool;
    this.view.redraw();
  }

  select(pl) {
    this.selected = pl;
    this.notify('select');
    this.view.redraw();
  }

  // ---- hit tests (image coordinates) ----

  handles(pl) {
    if (!pl || pl.pose || !pl.piece.isImage()) return [];
    const [x, y, w, h] = pl.piece.region;
    const x0 = x - 0.5, y0 = y - 0.5, x1 = x0 + w, y1 = y0 + h, xm = x0 + w / 2, ym = y0 + h / 2;
    return [['nw', x0, y0], ['n', xm, y0], ['ne', x1, y0], ['e', x1, ym], ['se', x1, y1],
            ['s', xm, y1], ['sw', x0, y1], ['w', x0, ym]];
  }

  hitHandle(p) {
    const r = this.view.px(HANDLE + 2);
    for (const [name, x, y] of this.handles(this.selected))
      if (Math.abs(p[0] - x) <= r && Math.abs(p[1] - y) <= r) return name;
    return null;
  }

  hitPlacement(p) {
    for (let i = this.part.placements.length - 1; i >= 0; --i) {
      const pl = this.part.placements[i];
      const q = pl.unmap(p);
      const piece = pl.piece;
      if (piece.isImage()) {
        const [x0, y0] = piece.outline()[0][0], [x1, y1] = piece.outline()[0][2];
        if (q[0] >= x0 && q[0] <= x1 && q[1] >= y0 && q[1] <= y1) return pl;
      } else if (piece.kind === 'blank') {
        if (Math.hypot(q[0], q[1]) <= this.view.px(10) / pl.poseOf().scale) return pl;
      } else {
        for (const line of piece.outline())
          if (inside(q, line) || nearLine(q, line, this.view.px(6) / pl.poseOf().scale)) return pl;
      }
    }
    return null;
  }

  hitOrigin(p) {
    const o = this.part.origin;
    return o && Math.hypot(p[0] - o[0], p[1] - o[1]) <= this.view.px(9);
  }

  // ---- pointer ----

  down(e) {
    if (e.button !== 0 || !this.enabled) return;
    const p = this.view.event(e).image;
    this.view.canvas.setPointerCapture(e.pointerId);
    const at = [Math.round(p[0]), Math.round(p[1])];
    if (this.tool === 'origin' || (this.tool === 'select' && this.hitOrigin(p))) {
      this.drag = {kind: 'origin'};
      this.part.origin = at;
      this.view.redraw();
      return;
    }
    if (this.tool === 'rect') {
      this.drag = {kind: 'rect', from: at, to: at};
      return;
    }
    if (this.tool === 'brush' || this.tool === 'polygon') {
      const piece = this.maskable();
      if (!piece) return;
      if (this.tool === 'polygon') {
        if (this.poly.length > 2) {
          const s = this.view.toScreen(this.poly[0]), t = this.view.event(e).screen;
          if (Math.hypot(s[0] - t[0], s[1] - t[1]) < 8) return this.closePolygon();
        }
        this.poly.push(p);
        this.view.redraw();
        return;
      }
      if (!piece.mask || !piece.mask.data) piece.startMask(this.brush.keep ? 0 : 255);
      this.drag = {kind: 'paint', piece};
      this.paint(piece, p);
      return;
    }
    // select
    const handle = this.hitHandle(p);
    if (handle) {
      this.drag = {kind: 'resize', handle, start: this.selected.piece.region.slice(), from: at};
      return;
    }
    const pl = this.hitPlacement(p);
    if (pl) {
      if (pl !== this.selected) this.select(pl);
      this.drag = {kind: 'move', pl, from: p, region: pl.piece.region && pl.piece.region.slice(),
                   pose: pl.pose && Object.assign({}, pl.pose), moved: false};
      return;
    }
    if (this.selected) this.select(null);
    this.view.startPan(e);
  }

  move(e) {
    const p = this.view.event(e).image;
    if (!this.drag) {
      if (this.tool === 'brush' || this.tool === 'polygon') {
        this.hover = p;
        this.view.redraw();
      }
      return;
    }
    const d = this.drag, at = [Math.round(p[0]), Math.round(p[1])];
    const [W, H] = this.part.size;
    if (d.kind === 'origin') {
      this.part.origin = at;
    } else if (d.kind === 'rect') {
      d.to = [Math.min(Math.max(at[0], 0), W - 1), Math.min(Math.max(at[1], 0), H - 1)];
    } else if (d.kind === 'paint') {
      this.paint(d.piece, p);
    } else if (d.kind === 'resize') {
      this.selected.piece.resizeRegion(resized(d.start, d.handle, at[0] - d.from[0], at[1] - d.from[1], W, H));
    } else if (d.kind === 'move') {
      const dx = p[0] - d.from[0], dy = p[1] - d.from[1];
      d.moved = d.moved || Math.hypot(dx, dy) > this.view.px(2);
      if (!d.moved) return;
      if (d.pl.pose) {
        d.pl.pose.x = Math.round((d.pose.x + dx) * 2) / 2;
        d.pl.pose.y = Math.round((d.pose.y + dy) * 2) / 2;
      } else {
        const r = d.pl.piece.region;
        d.pl.piece.moveRegion(d.region[0] + Math.round(dx) - r[0], d.region[1] + Math.round(dy) - r[1], [W, H]);
      }
    }
    this.view.redraw();
  }

  up(e) {
    const d = this.drag;
    this.drag = null;
    if (!d) return;
    if (d.kind === 'rect') {
      const x = Math.min(d.from[0], d.to[0]), y = Math.min(d.from[1], d.to[1]);
      const w = Math.abs(d.to[0] - d.from[0]) + 1, h = Math.abs(d.to[1] - d.from[1]) + 1;
      const side = limits.minRegionSide;
      if (w < side || h < side) {
        this.view.redraw();
        return this.notify('message', `a piece needs a region of at least ${side} x ${side} pixels`);
      }
      this.select(this.part.addPiece([x, y, w, h]));
    }
    if (d.kind === 'move' && !d.moved) return;
    this.notify('geometry');
    this.view.redraw();
  }

  // ---- masks ----

  maskable() {
    const piece = this.selected && this.selected.piece;
    if (!piece || !piece.isImage()) {
      this.notify('message', 'select an image piece to paint its mask');
      return null;
    }
    if (this.selected.pose) {
      this.notify('message', 'a mask is painted on the piece as drawn (its region), not on a copy');
      return null;
    }
    if (piece.mask && !piece.mask.data && piece.mask.note) {
      this.notify('message', piece.mask.note);
      return null;
    }
    return piece;
  }

  paint(piece, p) {
    const [x, y, w, h] = piece.region, r = this.brush.radius, v = this.brush.keep ? 255 : 0;
    const data = piece.mask.data;
    for (let j = Math.max(0, Math.floor(p[1] - r - y)); j <= Math.min(h - 1, Math.ceil(p[1] + r - y)); ++j)
      for (let i = Math.max(0, Math.floor(p[0] - r - x)); i <= Math.min(w - 1, Math.ceil(p[0] + r - x)); ++i)
        if ((x + i - p[0]) ** 2 + (y + j - p[1]) ** 2 <= r * r) data[j * w + i] = v;
    piece.mask.dirty = true;
    piece.mask.version = (piece.mask.version || 0) + 1;
  }

  closePolygon() {
    const piece = this.selected && this.selected.piece;
    if (this.poly.length < 3 || !piece || !piece.isImage()) {
      this.poly = [];
      this.view.redraw();
      return;
    }
    const v = this.brush.keep ? 255 : 0;
    if (!piece.mask || !piece.mask.data) piece.startMask(255 - v);
    const [x, y, w, h] = piece.region;
    for (let j = 0; j < h; ++j)
      for (let i = 0; i < w; ++i)
        if (inside([x + i, y + j], this.poly)) piece.mask.data[j * w + i] = v;
    piece.mask.dirty = true;
    piece.mask.version = (piece.mask.version || 0) + 1;
    this.poly = [];
    this.notify('geometry');
    this.view.redraw();
  }

  cancel() {
    this.poly = [];
    this.view.redraw();
  }

  // ---- drawing ----

  draw(ctx, v) {
    if (!this.enabled) return;
    ctx.lineWidth = v.px(1.5);
    ctx.font = `${v.px(12)}px sans-serif`;
    for (const pl of this.part.placements) this.drawPlacement(ctx, v, pl);
    if (this.part.origin) cross(ctx, this.part.origin, v.px(10), COLOURS.origin, v, true);
    const d = this.drag;
    if (d && d.kind === 'rect') {
      ctx.strokeStyle = COLOURS.selected;
      ctx.setLineDash([v.px(5), v.px(4)]);
      const x = Math.min(d.from[0], d.to[0]) - 0.5, y = Math.min(d.from[1], d.to[1]) - 0.5;
      ctx.strokeRect(x, y, Math.abs(d.to[0] - d.from[0]) + 1, Math.abs(d.to[1] - d.from[1]) + 1);
      ctx.setLineDash([]);
    }
    if (this.poly.length) {
      ctx.strokeStyle = COLOURS.selected;
      ctx.beginPath();
      this.poly.forEach((q, i) => i ? ctx.lineTo(q[0], q[1]) : ctx.moveTo(q[0], q[1]));
      if (this.hover) ctx.lineTo(this.hover[0], this.hover[1]);
      ctx.stroke();
      for (const q of this.poly) ctx.fillRect(q[0] - v.px(2), q[1] - v.px(2), v.px(4), v.px(4));
    }
    if (this.tool === 'brush' && this.hover) {
      ctx.strokeStyle = this.brush.keep ? '#ffffff' : COLOURS.clash;
      ctx.beginPath();
      ctx.arc(this.hover[0], this.hover[1], this.brush.radius, 0, 2 * Math.PI);
      ctx.stroke();
    }
  }

  drawPlacement(ctx, v, pl) {
    const piece = pl.piece, sel = this.selected && this.selected.piece === piece;
    const flag = this.flagged.get(pl);
    const colour = this.selected === pl ? COLOURS.selected : flag ? COLOURS[flag] : pl.pose ? COLOURS.copy : COLOURS.piece;
    if (piece.mask && piece.mask.data && !pl.pose) drawMask(ctx, piece);
    const trained = this.trained.get(piece.name);
    if (this.showEdges && trained && trained.points) {
      ctx.fillStyle = COLOURS.edge;
      const s = v.px(1.6), pts = trained.points;
      for (let i = 0; i + 1 < pts.length; i += 2) {
        const q = pl.map([pts[i], pts[i + 1]]);
        ctx.fillRect(q[0] - s / 2, q[1] - s / 2, s, s);
      }
    }
    ctx.strokeStyle = colour;
    ctx.lineWidth = v.px(sel ? 2 : 1.5);
    if (pl.pose) ctx.setLineDash([v.px(6), v.px(3)]);
    if (piece.kind === 'blank') {
      cross(ctx, pl.poseOf(), v.px(7), colour, v, false);
    } else {
      for (const line of piece.outline()) {
        ctx.beginPath();
        line.forEach((q, i) => {
          const m = pl.map(q);
          i ? ctx.lineTo(m[0], m[1]) : ctx.moveTo(m[0], m[1]);
        });
        ctx.stroke();
      }
    }
    ctx.setLineDash([]);
    // The name at the outline's top left corner.
    const corner = piece.kind === 'blank' ? [v.px(9), -v.px(4)] : topLeft(piece.outline());
    const at = pl.map(corner);
    ctx.fillStyle = colour;
    ctx.textBaseline = piece.kind === 'blank' ? 'middle' : 'bottom';
    ctx.fillText(this.labelOf(pl), at[0], at[1] - (piece.kind === 'blank' ? 0 : v.px(2)));
    if (this.selected === pl)
      for (const [, x, y] of this.handles(pl)) {
        ctx.fillStyle = '#000';
        ctx.fillRect(x - v.px(HANDLE), y - v.px(HANDLE), v.px(2 * HANDLE), v.px(2 * HANDLE));
        ctx.fillStyle = COLOURS.selected;
        ctx.fillRect(x - v.px(HANDLE - 1), y - v.px(HANDLE - 1), v.px(2 * HANDLE - 2), v.px(2 * HANDLE - 2));
      }
  }

  labelOf(pl) {
    const i = this.part.placements.indexOf(pl);
    return this.part.placementNames()[i];
  }
}

// The pixels a mask leaves out, tinted, over the region.
function drawMask(ctx, piece) {
  const m = piece.mask, [x, y, w, h] = piece.region;
  if (!m.canvas || m.drawn !== m.version || m.canvas.width !== w || m.canvas.height !== h) {
    m.canvas = m.canvas || document.createElement('canvas');
    m.canvas.width = w;
    m.canvas.height = h;
    const c = m.canvas.getContext('2d'), img = c.createImageData(w, h);
    for (let i = 0; i < w * h; ++i)
      if (!m.data[i]) img.data.set([255, 40, 40, 110], 4 * i);
    c.putImageData(img, 0, 0);
    m.drawn = m.version;
  }
  ctx.imageSmoothingEnabled = false;
  ctx.drawImage(m.canvas, x - 0.5, y - 0.5, w, h);
}

function cross(ctx, p, arm, colour, v, ring) {
  const x = Array.isArray(p) ? p[0] : p.x, y = Array.isArray(p) ? p[1] : p.y;
  ctx.strokeStyle = colour;
  ctx.lineWidth = v.px(2);
  ctx.beginPath();
  ctx.moveTo(x - arm, y);
  ctx.lineTo(x + arm, y);
  ctx.moveTo(x, y - arm);
  ctx.lineTo(x, y + arm);
  if (ring) {
    ctx.moveTo(x + arm * 0.6, y);
    ctx.arc(x, y, arm * 0.6, 0, 2 * Math.PI);
  }
  ctx.stroke();
}

function topLeft(lines) {
  let best = null;
  for (const line of lines) for (const q of line) if (!best || q[0] + q[1] < best[0] + best[1]) best = q;
  return best || [0, 0];
}

// Even-odd rule.
export function inside(p, poly) {
  let odd = false;
  for (let i = 0, j = poly.length - 1; i < poly.length; j = i++) {
    const a = poly[i], b = poly[j];
    if ((a[1] > p[1]) !== (b[1] > p[1]) && p[0] < (b[0] - a[0]) * (p[1] - a[1]) / (b[1] - a[1]) + a[0]) odd = !odd;
  }
  return odd;
}

function nearLine(p, line, r) {
  for (let i = 0; i + 1 < line.length; ++i) {
    const a = line[i], b = line[i + 1], dx = b[0] - a[0], dy = b[1] - a[1];
    const t = Math.max(0, Math.min(1, ((p[0] - a[0]) * dx + (p[1] - a[1]) * dy) / (dx * dx + dy * dy || 1)));
    if (Math.hypot(p[0] - a[0] - t * dx, p[1] - a[1] - t * dy) <= r) return true;
  }
  return false;
}

// A region dragged by one of its handles, kept at least limits.minRegionSide a side and inside
// the image.
function resized(r, handle, dx, dy, W, H) {
  let x0 = r[0], y0 = r[1], x1 = r[0] + r[2] - 1, y1 = r[1] + r[3] - 1;
  const side = limits.minRegionSide;
  if (handle.includes('w')) x0 = Math.min(Math.max(0, x0 + dx), x1 - side + 1);
  if (handle.includes('e')) x1 = Math.max(Math.min(W - 1, x1 + dx), x0 + side - 1);
  if (handle.includes('n')) y0 = Math.min(Math.max(0, y0 + dy), y1 - side + 1);
  if (handle.includes('s')) y1 = Math.max(Math.min(H - 1, y1 + dy), y0 + side - 1);
  return [x0, y0, x1 - x0 + 1, y1 - y0 + 1];
}
