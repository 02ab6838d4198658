/* The I/O floor of a conversion: reads every input file whole and writes
 * output files of given names and sizes into a folder, and does nothing else.
 * bench/run times it against vm-fits on the same recording. It uses the C
 * streams the converter uses, unbuffered, so that each file costs the fewest
 * system calls: open, one read and the read that finds the end, close; open,
 * one write, close.
 *
 *   io-floor OUTPUT-FOLDER [-r FILE]... [-w NAME=SIZE]...
 *
 * The output folder is created when missing (one level, like the converter
 * does). Exit status 0, or 2 with a message naming the file that failed. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

enum { kBufferSize = 1 << 20 };
static unsigned char buffer[kBufferSize];

static int Usage(void) {
    fputs("usage: io-floor OUTPUT-FOLDER [-r FILE]... [-w NAME=SIZE]...\n"
          "Reads every FILE whole, then writes NAME (SIZE bytes) into OUTPUT-FOLDER.\n",
          stderr);
    return 2;
}

static int Fail(const char* what, const char* path) {
    fprintf(stderr, "io-floor: %s %s: %s\n", what, path, strerror(errno));
    return 2;
}

static int ReadWhole(const char* path) {
    FILE* file = fopen(path, "rb");
    if (!file) return Fail("can't open", path);
    setvbuf(file, NULL, _IONBF, 0);
    while (fread(buffer, 1, sizeof buffer, file) == sizeof buffer) {
    }
    const int failed = ferror(file);
    fclose(file);
    return failed ? Fail("can't read", path) : 0;
}

static int WriteSized(const char* folder, const char* nameAndSize) {
    const char* equals = strchr(nameAndSize, '=');
    char* end = NULL;
    if (!equals) return Usage();
    const unsigned long long size = strtoull(equals + 1, &end, 10);
    if (end == equals + 1 || *end != '\0') return Usage();
    char path[4096];
    const int length = snprintf(path, sizeof path, "%s/%.*s", folder, (int)(equals - nameAndSize), nameAndSize);
    if (length < 0 || (size_t)length >= sizeof path) return Usage();
    FILE* file = fopen(path, "wb");
    if (!file) return Fail("can't open", path);
    setvbuf(file, NULL, _IONBF, 0);
    unsigned long long left = size;
    int failed = 0;
    while (left > 0 && !failed) {
        const size_t part = left < sizeof buffer ? (size_t)left : sizeof buffer;
        failed = fwrite(buffer, 1, part, file) != part;
        left -= part;
    }
    failed = fclose(file) != 0 || failed;
    return failed ? Fail("can't write", path) : 0;
}

int main(int argc, char** argv) {
    if (argc < 2 || strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) return Usage();
    const char* folder = argv[1];
    if (mkdir(folder, 0777) != 0 && errno != EEXIST) return Fail("can't create", folder);
    for (int i = 2; i < argc; i += 2) {
        if (i + 1 >= argc) return Usage();
        int status;
        if (strcmp(argv[i], "-r") == 0) {
            status = ReadWhole(argv[i + 1]);
        } else if (strcmp(argv[i], "-w") == 0) {
            status = WriteSized(folder, argv[i + 1]);
        } else {
            return Usage();
        }
        if (status != 0) return status;
    }
    return 0;
}
