// The part description being taught, as the page edits it: pieces (the description's
// sub-models) and their placements (its instances), the part's origin and the run settings.
// It reads a description `flexalign train` takes and writes one back in the same format,
// keeping every field the page does not edit (wireframe shapes, train settings, per-piece run
// settings) as it was. Coordinates are the training image's pixels, pixel centres at whole
// numbers, as the description gives them.

// The bounds the server's description reader checks (the session's `limits`), filled in as the
// page loads, before any piece is made.
export const limits = {};

// A plain file name for a mask painted on the page: the server writes it beside the
// description.
const PLAIN = /^[A-Za-z0-9_][A-Za-z0-9_.-]{0,99}\.png$/i;

function copy(v) { return v === undefined ? undefined : JSON.parse(JSON.stringify(v)); }

export class Piece {
  constructor(fields) {
    this.name = fields.name;
    this.kind = fields.kind || 'image';  // image, masked, wireframe, blank
    this.engine = fields.engine || 'geofind';
    this.region = fields.region || null;  // [x, y, w, h], image kinds
    this.centre = fields.centre || null;  // explicit origin of the piece; null: region centre
    this.mask = null;  // {name, data (Uint8Array, region-sized, 0 or 255) or null, dirty, note}
    this.extra = fields.extra || {};  // fields kept as they are (shapes, train, run, ...)
  }
  isImage() { return this.kind === 'image' || this.kind === 'masked'; }
  // The piece's own origin: where its instances' poses put it.
  centreOf() {
    if (this.centre) return this.centre;
    const [x, y, w, h] = this.region;
    return [x + w / 2, y + h / 2];
  }
  // Corners of the region in the piece's coordinates (pixel edges).
  outline() {
    if (this.kind === 'wireframe')
      return (this.extra.shapes || []).map(s => s.points.map(p => [p[0], p[1]]).concat(
          s.closed === false ? [] : [s.points[0]]));
    if (!this.isImage()) return [];
    const [x, y, w, h] = this.region;
    const [cx, cy] = this.centreOf();
    const x0 = x - 0.5 - cx, y0 = y - 0.5 - cy;
    return [[[x0, y0], [x0 + w, y0], [x0 + w, y0 + h], [x0, y0 + h], [x0, y0]]];
  }
  // Moves the region (and an explicit centre) by whole pixels; a mask moves with it.
  moveRegion(dx, dy, bounds) {
    const [x, y, w, h] = this.region;
    const nx = Math.min(Math.max(0, x + dx), bounds[0] - w);
    const ny = Math.min(Math.max(0, y + dy), bounds[1] - h);
    if (this.centre) this.centre = [this.centre[0] + nx - x, this.centre[1] + ny - y];
    this.region = [nx, ny, w, h];
    if (this.mask && (nx !== x || ny !== y)) this.mask.dirty = true;
  }
  // A new region; the mask keeps its pixels where they lie in the image, new ones kept.
  resizeRegion(r) {
    const old = this.region;
    if (this.mask && this.mask.data) {
      const data = new Uint8Array(r[2] * r[3]).fill(255);
      for (let j = 0; j < r[3]; ++j)
        for (let i = 0; i < r[2]; ++i) {
          const u = r[0] + i - old[0], v = r[1] + j - old[1];
          if (u >= 0 && v >= 0 && u < old[2] && v < old[3]) data[j * r[2] + i] = this.mask.data[v * old[2] + u];
        }
      this.mask.data = data;
      this.mask.dirty = true;
      this.mask.version = (this.mask.version || 0) + 1;
    }
    this.region = r;
  }
  // Starts a mask that keeps (255) or leaves out (0) every pixel.
  startMask(value) {
    const [, , w, h] = this.region;
    this.mask = {name: this.mask ? this.mask.name : null, data: new Uint8Array(w * h).fill(value), dirty: true};
    this.kind = 'masked';
  }
  clearMask() {
    this.mask = null;
    if (this.kind === 'masked') this.kind = 'image';
  }
}

export class Placement {
  // pose: {x, y, angle, scale}; null: where the piece lies in the training image.
  constructor(piece, pose, extra) {
    this.piece = piece;
    this.pose = pose || null;
    this.extra = extra || {};
  }
  poseOf() {
    if (this.pose) return this.pose;
    const [x, y] = this.piece.centreOf();
    return {x, y, angle: 0, scale: 1};
  }
  // Piece coordinates to training image pixels.
  map(p) {
    const {x, y, angle, scale} = this.poseOf();
    const a = angle * Math.PI / 180, c = Math.cos(a) * scale, s = Math.sin(a) * scale;
    return [x + c * p[0] - s * p[1], y + s * p[0] + c * p[1]];
  }
  unmap(q) {
    const {x, y, angle, scale} = this.poseOf();
    const a = -angle * Math.PI / 180, c = Math.cos(a) / scale, s = Math.sin(a) / scale;
    const dx = q[0] - x, dy = q[1] - y;
    return [c * dx - s * dy, s * dx + c * dy];
  }
}

export class Part {
  constructor(trainImage, size) {
    this.trainImage = trainImage;
    this.size = size;  // [width, height] of the training image
    this.pieces = [];
    this.placements = [];
    this.origin = null;
    this.run = {};  // the description's run settings, edited in place
    this.extra = {};
  }

  // A new description: the part searched anywhere in an image of the training image's size.
  static fresh(trainImage, size) {
    const p = new Part(trainImage, size);
    p.origin = [Math.round(size[0] / 2), Math.round(size[1] / 2)];
    p.run = {strategy: 'locallyFixtured', xyUncertainty: [Math.ceil(size[0] / 2), Math.ceil(size[1] / 2)]};
    return p;
  }

  static fromDoc(doc, trainImage, size) {
    const p = new Part(trainImage, size);
    const known = ['trainImage', 'origin', 'subModels', 'instances', 'run'];
    for (const k of Object.keys(doc)) if (!known.includes(k)) p.extra[k] = copy(doc[k]);
    p.origin = Array.isArray(doc.origin) ? doc.origin.slice() : null;
    p.run = copy(doc.run) || {};
    const byName = new Map();
    for (const s of doc.subModels || []) {
      const extra = {};
      for (const k of Object.keys(s))
        if (!['name', 'kind', 'engine', 'region', 'centre', 'mask'].includes(k)) extra[k] = copy(s[k]);
      const piece = new Piece({name: String(s.name), kind: s.kind, engine: s.engine,
                               region: Array.isArray(s.region) ? s.region.slice() : null,
                               centre: Array.isArray(s.centre) ? s.centre.slice() : null, extra});
      if (piece.isImage() && !piece.region) piece.region = [0, 0, limits.minRegionSide, limits.minRegionSide];
      // An explicit centre that is the region's own is left implicit: it then follows resizes.
      if (piece.centre && piece.region) {
        const [x, y, w, h] = piece.region;
        if (piece.centre[0] === x + w / 2 && piece.centre[1] === y + h / 2) piece.centre = null;
      }
      if (typeof s.mask === 'string') piece.mask = {name: s.mask, data: null, dirty: false};
      p.pieces.push(piece);
      byName.set(piece.name, piece);
    }
    for (const inst of doc.instances || []) {
      const piece = byName.get(inst.subModel);
      if (!piece) continue;
      const extra = {};
      for (const k of Object.keys(inst)) if (!['subModel', 'pose'].includes(k)) extra[k] = copy(inst[k]);
      let pose = null;
      const g = inst.pose;
      if (g || !piece.isImage()) {
        const [cx, cy] = piece.isImage() ? piece.centreOf() : [0, 0];
        pose = {x: g && g.x !== undefined ? g.x : cx, y: g && g.y !== undefined ? g.y : cy,
                angle: g && g.angle !== undefined ? g.angle : 0, scale: g && g.scale !== undefined ? g.scale : 1};
        if (piece.isImage() && pose.x === cx && pose.y === cy && pose.angle === 0 && pose.scale === 1) pose = null;
      }
      p.placements.push(new Placement(piece, pose, extra));
    }
    return p;
  }

  // The description, fields in the order the README lists them.
  toDoc() {
    const doc = {trainImage: this.trainImage};
    if (this.origin) doc.origin = this.origin.slice();
    doc.subModels = this.pieces.map(p => {
      const s = {name: p.name, kind: p.kind};
      if (p.kind !== 'blank') s.engine = p.engine;
      if (p.isImage()) {
        s.region = p.region.slice();
        if (p.centre) s.centre = p.centre.slice();
      }
      if (p.kind === 'masked' && p.mask) s.mask = p.mask.name;
      return Object.assign(s, copy(p.extra));
    });
    doc.instances = this.placements.map(pl => {
      const i = {subModel: pl.piece.name};
      if (pl.pose) i.pose = {x: round(pl.pose.x), y: round(pl.pose.y), angle: round(pl.pose.angle), scale: pl.pose.scale};
      return Object.assign(i, copy(pl.extra));
    });
    if (Object.keys(this.run).length) doc.run = copy(this.run);
    return Object.assign(doc, copy(this.extra));
  }

  // Names each painted mask that needs a file of its own, and returns {name: piece}.
  paintedMasks() {
    const out = {};
    const taken = new Set(this.pieces.filter(p => p.mask && p.mask.name && !p.mask.dirty).map(p => p.mask.name));
    for (const p of this.pieces) {
      if (p.kind !== 'masked' || !p.mask || !p.mask.dirty) continue;
      if (!p.mask.name || !PLAIN.test(p.mask.name) || taken.has(p.mask.name)) {
        const stem = p.name.replace(/[^A-Za-z0-9_-]+/g, '_').replace(/^_+/, '').slice(0, 80) || 'piece';
        let name = stem + '-mask.png';
        for (let k = 2; taken.has(name); ++k) name = `${stem}-${k}-mask.png`;
        p.mask.name = name;
      }
      taken.add(p.mask.name);
      out[p.mask.name] = p;
    }
    return out;
  }

  uniqueName(stem) {
    const names = new Set(this.pieces.map(p => p.name));
    // No space before the number: the reader numbers a piece's placements "name 1", "name 2".
    for (let k = 1;; ++k) if (!names.has(`${stem}${k}`)) return `${stem}${k}`;
  }

  addPiece(region) {
    const piece = new Piece({name: this.uniqueName('piece'), region});
    this.pieces.push(piece);
    const pl = new Placement(piece, null);
    this.placements.push(pl);
    return pl;
  }

  // One more placement of the piece, a little off its first one.
  placeAgain(piece) {
    const first = this.placements.find(pl => pl.piece === piece);
    const at = first ? first.poseOf() : {x: this.size[0] / 2, y: this.size[1] / 2, angle: 0, scale: 1};
    const pl = new Placement(piece, {x: round(at.x + 20), y: round(at.y + 20), angle: at.angle, scale: at.scale});
    this.placements.push(pl);
    return pl;
  }

  removePiece(piece) {
    this.pieces = this.pieces.filter(p => p !== piece);
    this.placements = this.placements.filter(pl => pl.piece !== piece);
  }

  // A placement goes; the piece goes with its last one.
  removePlacement(pl) {
    this.placements = this.placements.filter(q => q !== pl);
    if (!this.placements.some(q => q.piece === pl.piece)) this.removePiece(pl.piece);
  }

  // Renames a piece; the text says why a name is refused, else ''.
  rename(piece, name) {
    if (!name) return 'a piece needs a name';
    if (/[\x00-\x1f\x7f]/.test(name)) return 'a name may not hold control characters';
    if (this.pieces.some(p => p !== piece && p.name === name)) return `another piece is named "${name}"`;
    piece.name = name;
    return '';
  }

  // The names the reader gives the placements: the piece's, numbered where it is placed more
  // than once.
  placementNames() {
    const uses = new Map(), seen = new Map();
    for (const pl of this.placements) uses.set(pl.piece, (uses.get(pl.piece) || 0) + 1);
    return this.placements.map(pl => {
      if (uses.get(pl.piece) === 1) return pl.piece.name;
      seen.set(pl.piece, (seen.get(pl.piece) || 0) + 1);
      return `${pl.piece.name} ${seen.get(pl.piece)}`;
    });
  }
}

export function round(v) { return Math.round(v * 100) / 100; }
