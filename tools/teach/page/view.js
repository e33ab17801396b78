// A picture on a canvas with zoom (wheel, buttons) and pan (middle button, or dragging where
// no tool acts): coordinates are the image's pixels, pixel centres at whole numbers, so a
// description's numbers are drawn as they are. A reduced picture of a large image is drawn at
// the image's full size.

export class View {
  constructor(canvas) {
    this.canvas = canvas;
    this.ctx = canvas.getContext('2d');
    this.picture = null;  // an Image, drawn over [-0.5, size - 0.5]
    this.size = [1, 1];
    this.scale = 1;  // screen pixels (CSS) per image pixel
    this.offset = [0, 0];  // screen position of image point (-0.5, -0.5)
    this.layers = [];  // functions (ctx, view) drawing in image coordinates, in order
    this.pan = null;
    new ResizeObserver(() => this.redraw()).observe(canvas);
    canvas.addEventListener('wheel', e => {
      e.preventDefault();
      this.zoomAt(this.event(e).screen, Math.exp(-e.deltaY * 0.0015));
    }, {passive: false});
    canvas.addEventListener('pointerdown', e => {
      if (e.button === 1) this.startPan(e);
    });
    canvas.addEventListener('pointermove', e => {
      if (!this.pan) return;
      const s = this.event(e).screen;
      this.offset = [this.pan.offset[0] + s[0] - this.pan.at[0], this.pan.offset[1] + s[1] - this.pan.at[1]];
      this.redraw();
    });
    const end = () => { this.pan = null; };
    canvas.addEventListener('pointerup', end);
    canvas.addEventListener('pointercancel', end);
  }

  show(picture, size, keepView) {
    this.picture = picture;
    const same = this.size[0] === size[0] && this.size[1] === size[1];
    this.size = size;
    if (!keepView || !same) this.fit(); else this.redraw();
  }

  startPan(e) {
    this.canvas.setPointerCapture(e.pointerId);
    this.pan = {at: this.event(e).screen, offset: this.offset.slice()};
  }

  // Screen (CSS pixels within the canvas) and image coordinates of a mouse event.
  event(e) {
    const r = this.canvas.getBoundingClientRect();
    const screen = [e.clientX - r.left, e.clientY - r.top];
    return {screen, image: this.toImage(screen)};
  }
  toImage(s) {
    return [(s[0] - this.offset[0]) / this.scale - 0.5, (s[1] - this.offset[1]) / this.scale - 0.5];
  }
  toScreen(p) {
    return [(p[0] + 0.5) * this.scale + this.offset[0], (p[1] + 0.5) * this.scale + this.offset[1]];
  }

  fit() {
    const w = this.canvas.clientWidth || 1, h = this.canvas.clientHeight || 1;
    this.scale = Math.min(w / this.size[0], h / this.size[1]) * 0.96;
    this.offset = [(w - this.size[0] * this.scale) / 2, (h - this.size[1] * this.scale) / 2];
    this.redraw();
  }
  actualSize() {
    this.zoomAt([this.canvas.clientWidth / 2, this.canvas.clientHeight / 2], 1 / this.scale);
  }
  zoomAt(s, factor) {
    const next = Math.min(64, Math.max(0.02, this.scale * factor));
    const p = this.toImage(s);
    this.scale = next;
    this.offset = [s[0] - (p[0] + 0.5) * next, s[1] - (p[1] + 0.5) * next];
    this.redraw();
  }

  // Screen pixels as image pixels: line widths and handle sizes that look the same at any zoom.
  px(n) { return n / this.scale; }

  redraw() {
    if (this.pending) return;
    this.pending = requestAnimationFrame(() => {
      this.pending = 0;
      this.draw();
    });
  }

  draw() {
    const c = this.canvas, dpr = window.devicePixelRatio || 1;
    const w = Math.round(c.clientWidth * dpr), h = Math.round(c.clientHeight * dpr);
    if (c.width !== w || c.height !== h) c.width = w, c.height = h;
    const ctx = this.ctx;
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    ctx.fillStyle = '#20242a';
    ctx.fillRect(0, 0, w, h);
    // Image coordinates: point (-0.5, -0.5) at `offset`, `scale` screen pixels per image pixel.
    const k = this.scale * dpr;
    ctx.setTransform(k, 0, 0, k, this.offset[0] * dpr + 0.5 * k, this.offset[1] * dpr + 0.5 * k);
    if (this.picture) {
      ctx.imageSmoothingEnabled = this.scale < 2;
      ctx.drawImage(this.picture, -0.5, -0.5, this.size[0], this.size[1]);
    }
    for (const layer of this.layers) {
      ctx.save();
      layer(ctx, this);
      ctx.restore();
    }
  }
}

// Loads a picture; resolves to the Image.
export function loadPicture(url) {
  return new Promise((resolve, reject) => {
    const img = new Image();
    img.onload = () => resolve(img);
    img.onerror = () => reject(new Error('the image could not be shown'));
    img.src = url;
  });
}
