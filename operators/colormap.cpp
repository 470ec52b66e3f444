// Pseudo-colour lookup tables and their application to 8-bit and label images.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "imagelib_internal.h"
#include "tamoops.h"

namespace {

constexpr int kEntries = 256;

// Label colours of map 6 as 0xRRGGBB; indices 128..255 repeat them.
// Entry 59 is mid grey.
constexpr uint32_t kRandomColours[128] = {
    0x1B837C, 0x995E41, 0x5FD22C, 0x4BA4C9, 0xFBCC76, 0x899F3F, 0xB3B6F9, 0x5371B4,  //
    0xBC2C04, 0xC70A98, 0x3E8D83, 0x652EA4, 0xB64DF7, 0xD463B3, 0x209A8C, 0xB2E665,  //
    0xD49D04, 0x5F1B8E, 0x5E26CC, 0x121532, 0xE58C7C, 0x5F1973, 0x4E601F, 0xF1C96E,  //
    0x9005F4, 0x2858BE, 0xB7D42E, 0xB20DFC, 0x0728FD, 0xAC093D, 0xA328E7, 0x6FDB7F,  //
    0x29C700, 0xCB4A21, 0x37723E, 0xBDB647, 0x35AB98, 0xE03622, 0x8EFB6E, 0x600F48,  //
    0xB83859, 0x6C60C9, 0xE8A079, 0x919FBE, 0xE56759, 0x0C6F73, 0x2BA6EB, 0xC9F2EB,  //
    0xEDA87E, 0xA0F70E, 0x07509B, 0xA51E98, 0x95B6E6, 0xD2471A, 0xBDEB96, 0xE702BE,  //
    0xA0D655, 0xCC3E03, 0xE3ADCE, 0x7F7F7F, 0x45A013, 0x74E840, 0x0C1FC4, 0xECD279,  //
    0x48C226, 0xD8F75F, 0xBC65C4, 0xAD6E17, 0xE7D946, 0x38CA67, 0xA123EF, 0x211BBA,  //
    0x4FDA7A, 0x4B25B9, 0x5E51A8, 0x04DCE6, 0x9E20C8, 0x3247D6, 0xE4BC9A, 0x66A7F3,  //
    0x4A91D8, 0xC1862E, 0xBB82F6, 0x60F43D, 0xE403F7, 0x710F6D, 0x1B4E17, 0x1723B2,  //
    0x0C4864, 0xCA015C, 0x51A32F, 0xB58B86, 0x91004A, 0x837ED2, 0x41F02B, 0x47C246,  //
    0x99A855, 0x1FE5C7, 0x7AC76D, 0x12CC28, 0xBD0443, 0x5ED208, 0xC8EC93, 0x6635CB,  //
    0xFED65B, 0x37029A, 0x99C4DB, 0x767941, 0x87AC3B, 0xAEE359, 0x36756B, 0x3F8696,  //
    0x085ED5, 0x4A9BC7, 0x251607, 0x0233BB, 0xBA2511, 0x799DAE, 0xA00070, 0x5B76F8,  //
    0xCED6F2, 0xA14D88, 0x961516, 0x8594CA, 0x5036B3, 0x2B4D3B, 0x074028, 0xC0926A,  //
};

// Mevrel: ten flat bands of 25 levels (the last 31), taken at the odd level
// of each index pair.
constexpr uint8_t kMevrelBands[10][3] = {
    {0, 0, 0},     {160, 160, 160}, {150, 135, 0}, {0, 0, 215},   {0, 195, 0},
    {0, 240, 240}, {240, 0, 240},   {255, 175, 0}, {255, 252, 0}, {255, 255, 255},
};

void put(unsigned char *table, int j, int r, int g, int b) {
    table[j] = static_cast<unsigned char>(r);
    table[kEntries + j] = static_cast<unsigned char>(g);
    table[2 * kEntries + j] = static_cast<unsigned char>(b);
}

// Heated spectrum at half resolution: black, blue, cyan, green, yellow, red,
// magenta, white in segments of 18 entries (the last 20).
void heatedEntry(int k, int &r, int &g, int &b) {
    if (k < 18) {
        r = 0, g = 0, b = 15 * k;
    } else if (k < 36) {
        r = 0, g = 15 * (k - 18), b = 255;
    } else if (k < 54) {
        r = 0, g = 255, b = 255 - 15 * (k - 36);
    } else if (k < 72) {
        r = 15 * (k - 54), g = 255, b = 0;
    } else if (k < 90) {
        r = 255, g = 255 - 15 * (k - 72), b = 0;
    } else if (k < 108) {
        r = 255, g = 0, b = 15 * (k - 90);
    } else {
        r = 255, g = static_cast<int>((k - 108) * 13.421052631578947), b = 255;
    }
}

}  // namespace

extern "C" void CreateColorMap(unsigned char *table, TAMOHDR * /*image*/, int map) {
    std::fflush(stdout);
    if (!table) return;
    switch (map) {
        case 0:
            for (int j = 0; j < kEntries; ++j) put(table, j, j, j, j);
            break;
        case 1:
            for (int j = 0; j < kEntries; ++j) {
                const int v = (256 - j) % 256;
                put(table, j, v, v, v);
            }
            break;
        case 2:
            for (int j = 0; j < kEntries; ++j) {
                const uint8_t *c = kMevrelBands[std::min((j | 1) / 25, 9)];
                put(table, j, c[0], c[1], c[2]);
            }
            break;
        case 3:
            for (int j = 0; j < kEntries; ++j) {
                const int i = j | 1;
                const int r = i < 182 ? 255 * i / 182 : 255;
                const int g = i < 128 ? 0 : i < 219 ? 255 * (i - 128) / 91 : 255;
                const int b = i < 192 ? 0 : 255 * (i - 192) / 64;
                put(table, j, r, g, b);
            }
            break;
        case 4:
            for (int j = 0; j < kEntries; ++j) {
                int r, g, b;
                heatedEntry(j / 2, r, g, b);
                put(table, j, r, g, b);
            }
            break;
        case 5:
            for (int j = 0; j < kEntries; ++j) {
                const int v = static_cast<int>(255.0 * std::log10(j + 1.0) / 2.4082399653118496);
                put(table, j, v, v, v);
            }
            break;
        case 6:
            for (int j = 0; j < kEntries; ++j) {
                const uint32_t c = kRandomColours[j % 128];
                put(table, j, (c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
            }
            break;
        default:  // map numbers outside 0..6 leave the table as it is
            break;
    }
}

extern "C" int Tamocolormap(TAMOHDR *in, TAMOHDR *out, int map) {
    auto refuse = [](const char *line, int code) {
        std::printf("%s\n", line);
        std::fflush(stdout);
        return code;
    };
    if (!out || out->dtype != TAMO_U8BIT)
        return refuse("Tamocolormap: output image must be U8IT", TAMO_CMAP_EOUTTYPE);
    if (!in || in->orvndim != 2) return refuse("input image needs to be 2D", TAMO_CMAP_EINDIMS);
    // Three frames are written, so an output with fewer would be overrun.
    if (out->orvndim != 3 || out->orvdim[2].dlen < 3)
        return refuse("Tamocolormap:output image must be 3D", TAMO_CMAP_EOUTDIMS);
    const int cols = in->orvdim[0].dlen;
    const int rows = in->orvdim[1].dlen;
    if (out->orvdim[0].dlen != cols || out->orvdim[1].dlen != rows)
        return refuse("Tamocolormap: input and output images must be the same rows and cols",
                      TAMO_CMAP_ESIZE);
    if (map < 0 || map > 6)
        return refuse("Tamocolormap: map number must be 0 to 6", TAMO_CMAP_EMAP);

    unsigned char table[3 * kEntries];
    CreateColorMap(table, in, map);

    const long long plane = static_cast<long long>(cols) * rows;
    uint8_t *red = tamo::pixels<uint8_t>(out);
    uint8_t *green = red + plane;
    uint8_t *blue = green + plane;
    auto paint = [&](long long i, int v) {
        v = std::clamp(v, 0, kEntries - 1);
        red[i] = table[v];
        green[i] = table[kEntries + v];
        blue[i] = table[2 * kEntries + v];
    };
    if (in->dtype == TAMO_U8BIT) {
        const uint8_t *src = tamo::pixels<uint8_t>(in);
        for (long long i = 0; i < plane; ++i) paint(i, src[i]);
    } else {
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c)
                paint(static_cast<long long>(r) * cols + c, Tamoigp(in, r, c));
    }
    return 0;
}

extern "C" void colormap6(TAMOHDR *in, TAMOHDR *out, int n) {
    std::printf("processing a random color map");
    std::fflush(stdout);
    if (!in || !out) return;
    const int cols = in->orvdim[0].dlen;
    const int rows = in->orvndim >= 2 ? in->orvdim[1].dlen : 1;
    // Frames 0..2 of out are written at every pixel of in.
    if (out->orvndim != 3 || out->orvdim[2].dlen < 3 || out->orvdim[0].dlen != cols ||
        out->orvdim[1].dlen != rows) {
        std::printf(
            "\ncolormap6: output image must be 3D with 3 frames of the input's rows and cols\n");
        std::fflush(stdout);
        return;
    }

    if (n > INT_MAX / 3) {
        std::printf("\ncolormap6: too many labels\n");
        std::fflush(stdout);
        return;
    }
    // Planes of n red, n green and n blue values. The first two red entries
    // belong to the black labels 0 and 1 and are never drawn.
    tamo::CArray<unsigned char> colours;
    if (n > 0) {
        colours.reset(static_cast<unsigned char *>(Tamoalc(3 * n)));
        if (!colours) return;
        for (int i = 2; i < 3 * n; ++i)
            colours.get()[i] = static_cast<unsigned char>(255.0 * Tamodrand48());
    }
    const unsigned char *table = colours.get();
    for (int r = 1; r < rows; ++r) {
        for (int c = 1; c < cols; ++c) {
            const int v = Tamoigp(in, r, c);
            int red = 0, green = 0, blue = 0;
            if (v >= 2 && v < n) {
                red = table[v];
                green = table[n + v];
                blue = table[2 * n + v];
            }
            Tamofpp3d(out, 0, r, c, red);
            Tamofpp3d(out, 1, r, c, green);
            Tamofpp3d(out, 2, r, c, blue);
        }
    }
}
