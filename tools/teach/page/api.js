// The teach server's requests. Each sends the description as the page would save it, with
// the masks painted on the page as PNG files named as the description names them; an answer
// that is not OK rejects with the server's text (the command's own message for a
// description it refuses).

export class RequestError extends Error {
  constructor(status, text) {
    super(text);
    this.status = status;
  }
}

async function answer(res) {
  let body = null;
  try {
    body = await res.json();
  } catch (e) {
    throw new RequestError(res.status, `the server answered ${res.status} without a reason`);
  }
  if (!res.ok) throw new RequestError(res.status, body.error || `HTTP ${res.status}`);
  return body;
}

export async function session() {
  return answer(await fetch('/api/session', {cache: 'no-store'}));
}

// More: {field: string, [strings] (the field repeated) or {blob, name}}; none: no body.
async function send(path, more) {
  const form = new FormData();
  for (const [k, v] of Object.entries(more || {}))
    for (const x of [v].flat()) if (typeof x === 'string') form.append(k, x); else form.append(k, x.blob, x.name);
  let res;
  try {
    res = await fetch(path, more ? {method: 'POST', body: form} : {method: 'POST'});
  } catch (e) {
    throw new RequestError(0, 'the teach server does not answer (was flexalign teach stopped?)');
  }
  return answer(res);
}

// Masks: {name: Blob}.
function post(path, description, masks, more) {
  const fields = {description: JSON.stringify(description, null, 2), mask: Object.entries(masks).map(([name, blob]) => ({blob, name}))};
  return send(path, Object.assign(fields, more));
}

export const pieces = (doc, masks) => post('/api/pieces', doc, masks);
export const save = (doc, masks) => post('/api/save', doc, masks);
export const tryName = (doc, masks, name) => post('/api/try', doc, masks, {image: name});
export const tryFile = (doc, masks, file) => post('/api/try', doc, masks, {upload: {blob: file, name: file.name}});

// The golden model: trained from the images `names` with the description's pattern, tried on
// an image, saved beside the description.
export const golden = (doc, masks, names) => post('/api/golden', doc, masks, {good: names});
export const inspectName = name => send('/api/inspect', {image: name});
export const inspectFile = file => send('/api/inspect', {upload: {blob: file, name: file.name}});
export const saveGolden = () => send('/api/golden/save');

export function imageUrl(name) { return '/api/image?name=' + encodeURIComponent(name); }
