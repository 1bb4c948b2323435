/* Converts each FILE with libtarnwick into OUT_DIR/NAME (NAME the file's
   base name): its XML document, or "damaged: REASON" or "failed CODE".
   Written in C89 against the installed header and library alone.
   Usage: consumer_c OUT_DIR FILE... */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tarnwick.h>

static int write_to_file(void *context, const char *bytes, size_t size) {
  return fwrite(bytes, 1, size, (FILE *)context) == size ? 0 : 1;
}

/* Reads the whole of `path` into a buffer from malloc; null when it cannot. */
static char *read_file(const char *path, size_t *size) {
  FILE *in = fopen(path, "rb");
  char *data = NULL;
  long end;
  if (in == NULL) return NULL;
  if (fseek(in, 0, SEEK_END) == 0 && (end = ftell(in)) >= 0 && fseek(in, 0, SEEK_SET) == 0) {
    data = (char *)malloc((size_t)end + 1);
    if (data != NULL && fread(data, 1, (size_t)end, in) != (size_t)end) {
      free(data);
      data = NULL;
    }
    *size = (size_t)end;
  }
  fclose(in);
  return data;
}

static int convert(const char *out_dir, const char *path) {
  const char *name = strrchr(path, '/') != NULL ? strrchr(path, '/') + 1 : path;
  char out_path[4096];
  size_t size = 0;
  char *data = read_file(path, &size);
  FILE *out;
  tarnwick_error error;
  if (data == NULL || strlen(out_dir) + strlen(name) + 2 > sizeof out_path) return 1;
  sprintf(out_path, "%s/%s", out_dir, name);
  out = fopen(out_path, "wb");
  if (out == NULL) return 1;
  if (tarnwick_convert(data, size, TARNWICK_XML, 0, write_to_file, out, &error) != TARNWICK_OK) {
    /* The partial document is replaced by the failure. */
    out = freopen(out_path, "wb", out);
    if (out == NULL) return 1;
    if (error.code == TARNWICK_DAMAGED) {
      fprintf(out, "damaged: %s", error.reason);
    } else {
      fprintf(out, "failed %d", error.code);
    }
  }
  free(data);
  return fclose(out) != 0;
}

int main(int argc, char **argv) {
  int i, failures = 0;
  if (argc < 2) return 2;
  if (strcmp(tarnwick_version(), TARNWICK_VERSION_STRING) != 0) return 1;
  for (i = 2; i < argc; ++i) failures += convert(argv[1], argv[i]);
  return failures != 0;
}
