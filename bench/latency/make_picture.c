/*
 * Writes a photo-like test picture to stdout a row at a time, so that no picture is ever held
 * whole: soft waves with a light grain, and a flat block over the middle 40% x 40% whose
 * colour tells a screen timer which picture is shown.
 *
 *   make_picture ppm WIDTH HEIGHT RRGGBB SEED | cjpeg -quality 90 >picture.jpg
 *   make_picture png WIDTH HEIGHT RRGGBB SEED >picture.png
 *
 * The PNG is 8-bit RGBA: half transparent outside the block, opaque inside it, each row
 * filtered by its left neighbour (Sub), as a writer choosing filters often does for photos.
 */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

static uint32_t state;

static int grain(void) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return (int)(state % 17) - 8;
}

static uint8_t clamp(int v) {
    return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
}

/* Row y of the picture into rgb (3 bytes a pixel); the waves of the columns come from cols. */
static void makeRow(uint8_t* rgb, const int* cols, int w, int h, int y, uint32_t block) {
    const int by0 = h * 3 / 10, by1 = h - by0, bx0 = w * 3 / 10, bx1 = w - bx0;
    const int rowWave = (int)(40 * sin(y * 0.0041) + 18 * sin(y * 0.019 + 1.3));
    for (int x = 0; x < w; x++) {
        uint8_t* p = rgb + 3 * x;
        if (y >= by0 && y < by1 && x >= bx0 && x < bx1) {
            p[0] = (uint8_t)(block >> 16), p[1] = (uint8_t)(block >> 8), p[2] = (uint8_t)block;
            continue;
        }
        const int base = 120 + cols[x] + rowWave, g = grain();
        p[0] = clamp(base + 30 + g), p[1] = clamp(base + g), p[2] = clamp(base - 25 + g);
    }
}

static void chunk(const char* type, const uint8_t* data, uint32_t size) {
    uint8_t head[8] = {size >> 24, size >> 16, size >> 8, size, type[0], type[1], type[2], type[3]};
    /* zlib's crc32 of a null buffer is its initial value, not the sum of nothing. */
    uLong crc = size ? crc32(crc32(0, head + 4, 4), data, size) : crc32(0, head + 4, 4);
    uint8_t tail[4] = {crc >> 24, crc >> 16, crc >> 8, crc};
    fwrite(head, 1, 8, stdout);
    fwrite(data, 1, size, stdout);
    fwrite(tail, 1, 4, stdout);
}

/* Deflates what strm holds into IDAT chunks until it asks for more input (or ends). */
static void deflateOut(z_stream* strm, int flush) {
    static uint8_t out[1 << 16];
    int result;
    do {
        strm->next_out = out;
        strm->avail_out = sizeof out;
        result = deflate(strm, flush);
        if (sizeof out - strm->avail_out > 0)
            chunk("IDAT", out, (uint32_t)(sizeof out - strm->avail_out));
    } while (strm->avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
}

int main(int argc, char** argv) {
    if (argc != 6 || (strcmp(argv[1], "ppm") != 0 && strcmp(argv[1], "png") != 0)) {
        fprintf(stderr, "usage: make_picture ppm|png WIDTH HEIGHT RRGGBB SEED\n");
        return 2;
    }
    const int png = argv[1][1] == 'n', w = atoi(argv[2]), h = atoi(argv[3]);
    const uint32_t block = (uint32_t)strtoul(argv[4], NULL, 16);
    state = (uint32_t)strtoul(argv[5], NULL, 10) * 2654435761u | 1u;
    int* cols = malloc(sizeof(int) * (size_t)w);
    uint8_t* rgb = malloc((size_t)w * 3);
    uint8_t* row = malloc((size_t)w * 4 + 1);
    if (w <= 0 || h <= 0 || !cols || !rgb || !row)
        return 2;
    for (int x = 0; x < w; x++)
        cols[x] = (int)(45 * sin(x * 0.0033 + state % 7) + 15 * sin(x * 0.023));

    z_stream strm = {0};
    if (png) {
        const uint8_t header[13] = {w >> 24, w >> 16, w >> 8, w, h >> 24, h >> 16, h >> 8,
                                    h,       8,       6,      0, 0,       0};
        fwrite("\x89PNG\r\n\x1a\n", 1, 8, stdout);
        chunk("IHDR", header, sizeof header);
        deflateInit(&strm, 6);
    } else {
        printf("P6\n%d %d\n255\n", w, h);
    }
    const int by0 = h * 3 / 10, by1 = h - by0, bx0 = w * 3 / 10, bx1 = w - bx0;
    for (int y = 0; y < h; y++) {
        makeRow(rgb, cols, w, h, y, block);
        if (!png) {
            fwrite(rgb, 3, (size_t)w, stdout);
            continue;
        }
        row[0] = 1;
        for (int x = 0; x < w; x++) {
            const int inBlock = y >= by0 && y < by1 && x >= bx0 && x < bx1;
            uint8_t* p = row + 1 + 4 * x;
            memcpy(p, rgb + 3 * x, 3);
            p[3] = inBlock ? 255 : 128;
        }
        for (int i = 4 * w; i > 4; i--)
            row[i] = (uint8_t)(row[i] - row[i - 4]);
        strm.next_in = row;
        strm.avail_in = (uInt)(4 * w + 1);
        deflateOut(&strm, Z_NO_FLUSH);
    }
    if (png) {
        deflateOut(&strm, Z_FINISH);
        deflateEnd(&strm);
        chunk("IEND", NULL, 0);
    }
    return fflush(stdout) == 0 ? 0 : 1;
}
