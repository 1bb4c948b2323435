/* Converts the file FILE with libtarnwick and prints its XML document, or
   "damaged: REASON" or "failed CODE". C89, against the installed header and
   library alone. Usage: consumer_c FILE */
#include <stdio.h>
#include <tarnwick.h>

/* Largest input read; the test's files are smaller. */
static char data[1 << 24];

int main(int argc, char** argv) {
  FILE* in = argc == 2 ? fopen(argv[1], "rb") : NULL;
  size_t size, length;
  char* document;
  tarnwick_error error;
  if (in == NULL) return 2;
  size = fread(data, 1, sizeof data, in);
  fclose(in);
  if (tarnwick_convert_to_buffer(data, size, TARNWICK_XML, 0, &document, &length, &error) == 0) {
    fwrite(document, 1, length, stdout);
    tarnwick_free(document);
  } else if (error.code == TARNWICK_DAMAGED) {
    printf("damaged: %s", error.reason);
  } else {
    printf("failed %d", error.code);
  }
  return 0;
}
