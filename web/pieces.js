// The JavaScript side of Glue.cpp: each piece of the document goes to the
// function the worker gave the module as `onPiece`.
mergeInto(LibraryManager.library, {
  tarnwick_web_piece: function (bytes, size) {
    return Module['onPiece'](Module['HEAPU8'].subarray(bytes, bytes + size));
  },
});
