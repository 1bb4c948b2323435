/* Converts the file FILE with libtarnwick and prints its document in
   FORMAT (a tarnwick_format number, XML when left out), or "damaged: REASON"
   or "failed CODE". C89, against the installed header and library alone.
   Usage: consumer_c FILE [FORMAT] */
#include <stdio.h>
#include <stdlib.h>
#include <tarnwick.h>

/* Largest input read; the test's files are smaller. */
static char data[1 << 24];

int main(int argc, char** argv) {
  FILE* in = argc == 2 || argc == 3 ? fopen(argv[1], "rb") : NULL;
  int format = argc == 3 ? atoi(argv[2]) : TARNWICK_XML;
  size_t size, length;
  char* document;
  tarnwick_error error;
  if (in == NULL) return 2;
  size = fread(data, 1, sizeof data, in);
  fclose(in);
  if (tarnwick_convert_to_buffer(data, size, format, 0, &document, &length, &error) == 0) {
    fwrite(document, 1, length, stdout);
    tarnwick_free(document);
  } else if (error.code == TARNWICK_DAMAGED) {
    printf("damaged: %s", error.reason);
  } else {
    printf("failed %d", error.code);
  }
  return 0;
}
