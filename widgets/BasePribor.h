#pragma once
// Base of the round, custom-drawn instruments. Paints in two layers:
//  - the static face (plate, round face, scale, labels) is drawn by the derived class's
//    DrawTable into a cached picture, the table, and redrawn only when a property that the face
//    shows has changed or the widget's size no longer matches the picture;
//  - the derived class's Paint draws the cached face and the moving parts over it on every
//    paint, into the widget's surface, an off-screen picture that reaches the screen in one
//    step.
//
// Every accepted property change repaints at once (Repaint): when the widget is visible, Paint
// has drawn the new state into the surface before the setter returns, and Qt puts the surface
// on the screen at its next pass; when it is hidden the change shows at the next ordinary
// paint. Presenting at the next pass rather than inside the setter keeps a burst of changes
// (a replay catching up, say) from repainting the whole window once per change. A paint event
// presents that surface as it is unless something Paint reads has changed without telling the
// widget (a font changed in place, the palette behind system colours, the regional settings:
// PaintInputsChanged); then it paints afresh, so such a change shows at the next ordinary paint.
//
// Owned by its parent widget; lives on the GUI thread and is used only there, so no locking.
#include "widgets/Colors.h"
#include "widgets/Font.h"

#include <QImage>
#include <QWidget>

class QPainter;

namespace orvi::widgets {

class TBasePribor : public QWidget {
    Q_OBJECT
    Q_PROPERTY(quint32 TableColor READ TableColor WRITE SetTableColor)
    Q_PROPERTY(quint32 BackColor READ BackColor WRITE SetBackColor)
    Q_PROPERTY(quint32 RoundColor READ RoundColor WRITE SetRoundColor)
    Q_PROPERTY(quint32 GridColor READ GridColor WRITE SetGridColor)
    Q_PROPERTY(int GridWidth READ GridWidth WRITE SetGridWidth)

public:
    explicit TBasePribor(QWidget* owner = nullptr);
    ~TBasePribor() override;

    // Fill and outline of the rounded plate.
    TColor TableColor() const { return FTableColor; }
    void SetTableColor(TColor value);
    // Background of the whole widget rectangle.
    TColor BackColor() const { return FBackColor; }
    void SetBackColor(TColor value);
    // Fill and outline of the round face.
    TColor RoundColor() const { return FRoundColor; }
    void SetRoundColor(TColor value);
    // Pen colour of the scale ticks.
    TColor GridColor() const { return FGridColor; }
    void SetGridColor(TColor value);
    // Pen width of the scale ticks, 1 to 10; other values are ignored.
    int GridWidth() const { return FGridWidth; }
    void SetGridWidth(int value);

    // The face's font. Changing any attribute in place (Font().SetHeight(-11)) or assigning a
    // different font marks the face outdated and repaints.
    TFont& Font() { return FFont; }
    const TFont& Font() const { return FFont; }
    void SetFont(const TFont& value) { FFont = value; }

    // True when the cached face must be redrawn before it is shown.
    bool TableOutdated() const;
    // The cached face as last drawn.
    const QImage& TableBitmap() const { return FTableBitmap; }

protected:
    // Redraws the cached face if it is outdated.
    void UpdateTable();
    // Draws the static face on `canvas`, a painter on a picture of exactly the widget's size.
    // Empty here.
    virtual void DrawTable(QPainter& canvas);
    // Keeps the cached face up to date; draws nothing on `canvas` (the widget). A derived class
    // calls this first, then draws the face and its moving parts.
    virtual void Paint(QPainter& canvas);
    // Called whenever an attribute of Font changes.
    void FontChanged();
    // Marks the cached face outdated without repainting.
    void MarkTableChanged() { FTableChanged = true; }
    // The immediate repaint: Paint runs now when the widget is visible.
    void Repaint();
    // Whether something that Paint reads has changed since the last Paint without a notification.
    // Here: the application palette, which gives the system colours. A derived class that reads
    // more adds its own checks to this one.
    virtual bool PaintInputsChanged() const;

    void paintEvent(QPaintEvent* event) override;

private:
    void SetFaceColor(TColor& field, TColor value);
    // Runs Paint into FSurface, sized to the widget.
    void PaintSurface();

    TColor FTableColor;
    TColor FBackColor;
    TColor FRoundColor;
    TColor FGridColor;
    int FGridWidth;
    QImage FTableBitmap;
    QSize FTableSize;         // FTableBitmap's size in widget pixels
    qreal FTableRatio = 1.0;  // device pixels per widget pixel it was drawn for
    qint64 FTablePalette = 0; // cache key of the application palette it was drawn with
    bool FTableChanged;
    TFont FFont;
    QImage FSurface;              // the last Paint, as Qt is to show it
    bool FSurfaceCurrent = false; // false when a change has not been painted into FSurface
    qint64 FSurfacePalette = 0;   // cache key of the application palette FSurface was painted with
};

} // namespace orvi::widgets
