#pragma once
// A font as the widgets' properties carry it: face name, height in pixels, style set, colour
// and character set, copied by value. A negative height is the character height without
// internal leading (the usual way to give a size); a positive one is the whole cell height.
//
// A font may have a change handler, called once after any attribute changed its value; the
// owner of the font sets it. Copies never take the handler over: copying a widget's font gives
// a plain value, and assigning to a widget's font notifies that widget.
//
// GUI thread only.
#include "widgets/Colors.h"

#include <QFont>
#include <QString>
#include <functional>

namespace orvi::widgets {

enum class TFontStyle : unsigned {
    fsBold = 1,
    fsItalic = 2,
    fsUnderline = 4,
    fsStrikeOut = 8,
};

// A set of TFontStyle flags.
using TFontStyles = unsigned;

constexpr TFontStyles operator|(TFontStyle a, TFontStyle b) {
    return unsigned(a) | unsigned(b);
}

constexpr bool HasStyle(TFontStyles set, TFontStyle s) {
    return (set & unsigned(s)) != 0;
}

// Character sets that the layouts name; they do not change how text is drawn here (font
// substitution finds glyphs for any script), but they are kept as given.
constexpr int DEFAULT_CHARSET = 1;
constexpr int RUSSIAN_CHARSET = 204;

class TFont {
public:
    // The toolkit's default font: "MS Sans Serif", 11 pixels, regular, window text colour.
    TFont();
    TFont(const TFont& other);
    // Takes every attribute of `other`, keeps this font's handler, notifies once on a change.
    TFont& operator=(const TFont& other);
    ~TFont() = default;

    void Assign(const TFont& other) { *this = other; }
    void SetOnChange(std::function<void()> handler) { FOnChange = std::move(handler); }

    const QString& Name() const { return FName; }
    void SetName(const QString& name);
    int Height() const { return FHeight; }
    void SetHeight(int height);
    // Size in points at 96 pixels per inch; setting it sets the height.
    int Size() const;
    void SetSize(int points);
    TFontStyles Style() const { return FStyle; }
    void SetStyle(TFontStyles style);
    TColor Color() const { return FColor; }
    void SetColor(TColor color);
    int Charset() const { return FCharset; }
    void SetCharset(int charset);

    // Same attributes; the handlers are not compared.
    bool operator==(const TFont& other) const;

    // The font to draw with. An unknown face name falls back to a sans-serif face that the
    // system has, so drawing never depends on a particular font being installed.
    QFont ToQFont() const;

private:
    void Changed();

    QString FName;
    int FHeight;
    TFontStyles FStyle;
    TColor FColor;
    int FCharset;
    std::function<void()> FOnChange;
};

} // namespace orvi::widgets
