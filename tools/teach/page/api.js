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

// Masks: {name: Blob}. More: {field: string or {blob, name}}.
async function post(path, description, masks, more) {
  const form = new FormData();
  form.append('description', JSON.stringify(description, null, 2));
  for (const [name, blob] of Object.entries(masks)) form.append('mask', blob, name);
  for (const [k, v] of Object.entries(more || {}))
    if (typeof v === 'string') form.append(k, v); else form.append(k, v.blob, v.name);
  let res;
  try {
    res = await fetch(path, {method: 'POST', body: form});
  } catch (e) {
    throw new RequestError(0, 'the teach server does not answer (was flexalign teach stopped?)');
  }
  return answer(res);
}

export const pieces = (doc, masks) => post('/api/pieces', doc, masks);
export const save = (doc, masks) => post('/api/save', doc, masks);
export const tryName = (doc, masks, name) => post('/api/try', doc, masks, {image: name});
export const tryFile = (doc, masks, file) => post('/api/try', doc, masks, {upload: {blob: file, name: file.name}});

export function imageUrl(name) { return '/api/image?name=' + encodeURIComponent(name); }
