// Bitmap font text and the tiled background.
//
// Every text is drawn from "Graphics\font.png": 16x16 glyphs copied with the
// colour key over a 16x16 colour cell from the picture's first row, which is
// how the text colour is chosen. Colour 9 draws the glyph's second face and no
// cell; colour 8 picks a random cell for every character.
#include <cstring>

#include "core/app.h"
#include "core/gamedata.h"
#include "graphics/directdraw.h"

namespace {

constexpr int kCell = 16;
constexpr uint8_t kColorSecondFace = 9;
constexpr uint8_t kColorRandomCells = 8;
const char kSymbols[] = "ldr*=.<>+][\\/up:";

// Top-left corner of a character's glyph in the first face; false for a
// character that has no glyph.
bool GlyphOrigin(char ch, int* gx, int* gy) {
    if (ch >= 'A' && ch <= 'Z') {
        *gx = kCell * (ch - 'A');
        *gy = kCell;
        return true;
    }
    if (ch >= '0' && ch <= '9') {
        *gx = kCell * (26 + ch - '0');
        *gy = kCell;
        return true;
    }
    const char* symbol = ch ? strchr(kSymbols, ch) : nullptr;
    if (!symbol) return false;
    *gx = kCell * int(symbol - kSymbols);
    *gy = 2 * kCell;
    return true;
}

int CellFor(uint8_t color) { return color == kColorRandomCells ? theApp.RandUpTo(6) : color; }

}  // namespace

bool CApp::HasGlyph(char ch) {
    int gx, gy;
    return GlyphOrigin(ch, &gx, &gy);
}

int CApp::TextWidth(const char* text) {
    int width = 0;
    for (const char* c = text; *c; c++) width += (*c == '_') ? kCell / 2 : kCell;
    return width;
}

void CApp::DrawText(SurfaceId dest, int x, int y, const char* text, uint8_t color, bool centred, int clipMode) {
    if (centred) x = 320 - TextWidth(text) / 2;
    for (const char* c = text; *c; c++) {
        if (*c == ' ') {
            x += kCell;
            continue;
        }
        if (*c == '_') {
            x += kCell / 2;
            continue;
        }
        int gx, gy;
        if (GlyphOrigin(*c, &gx, &gy)) {
            if (color != kColorSecondFace)
                theDirectDraw.Draw(dest, x, y, kCell, kCell, fontSurface, kCell * CellFor(color), 0, true, clipMode);
            else
                gy += 2 * kCell;
            theDirectDraw.Draw(dest, x, y, kCell, kCell, fontSurface, gx, gy, true, clipMode);
        }
        x += kCell;
    }
}

void CApp::DrawTextScaled(SurfaceId dest, int x, int y, int glyphWidth, int glyphHeight, const char* text,
                          uint8_t color, bool centreH, bool centreV) {
    if (centreH) x = (kScreenWidth - int(strlen(text)) * glyphWidth) / 2;
    if (centreV) y = (kScreenHeight - glyphHeight) / 2;
    for (const char* c = text; *c; c++) {
        int gx, gy;
        if (*c != ' ' && GlyphOrigin(*c, &gx, &gy)) {
            if (color != kColorSecondFace)
                theDirectDraw.DrawStretched(dest, x, y, glyphWidth, glyphHeight, fontSurface, kCell * CellFor(color), 0,
                                            kCell, kCell);
            else
                gy += 2 * kCell;
            theDirectDraw.DrawStretched(dest, x, y, glyphWidth, glyphHeight, fontSurface, gx, gy, kCell, kCell);
        }
        x += glyphWidth;
    }
}

// Tiles the 128x128 background over the back buffer; with advance set the
// pattern drifts one pixel right and down per call.
void CApp::DrawBackground(bool advance) {
    if (advance) {
        backgroundScrollX = (backgroundScrollX + 1) % 128;
        backgroundScrollY = (backgroundScrollY + 1) % 128;
    }
    for (int j = 0; j < 5; j++)
        for (int i = 0; i < 7; i++)
            theDirectDraw.Draw(kBackBuffer, backgroundScrollX - 128 + 128 * i, backgroundScrollY - 128 + 128 * j, 128,
                               128, backgroundSurface, 0, 0, false, CLIP_DEST);
}
