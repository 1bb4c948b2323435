// The page's worker, joined after the engine's module script: converts one
// file at a time so that the page stays responsive, and posts the document
// back in pieces as the engine writes them.
//   in:  {bytes: ArrayBuffer, format: 0..3}
//   out: {piece: ArrayBuffer}..., then {code, reason}
'use strict';

const engine = createTarnwick({
  onPiece: function (view) {
    const piece = view.slice();  // a copy: the module's memory may move
    postMessage({piece: piece.buffer}, [piece.buffer]);
    return 0;
  },
});

onmessage = async function (event) {
  const m = await engine;
  const input = new Uint8Array(event.data.bytes);
  const errorSize = m._tarnwick_web_error_size();
  // malloc(0) may return null; one byte keeps an empty file on the normal path.
  const data = m._malloc(Math.max(input.length, 1));
  const error = m._malloc(errorSize);
  if (data === 0 || error === 0) {
    m._free(data);
    m._free(error);
    postMessage({code: 'memory', reason: 'out of memory'});
    return;
  }
  m.HEAPU8.set(input, data);
  const code = m._tarnwick_web_convert(data, input.length, event.data.format, error);
  const reason = m.UTF8ToString(m._tarnwick_web_reason(error));
  m._free(data);
  m._free(error);
  postMessage({code: code, reason: reason});
};
