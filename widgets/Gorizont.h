#pragma once
// The artificial horizon: a round instrument whose face is a plate with a round face and a roll
// scale of labelled ticks around the full circle. Over it, on every paint, a disc split into sky
// and ground by a horizon line that the pitch Tangaj moves and the roll Kren turns (degrees),
// a reference diameter and a roll pointer turning with the roll, and the pitch as text, turned
// with the roll. The widget is always square; its side is its width.
//
// Owned by its parent widget; GUI thread only, no locking. SetKrenTangaj repaints synchronously
// inside the call when the widget is visible.
#include "widgets/BasePribor.h"

namespace orvi::widgets {

struct HorizonLayout;

class TGorizont : public TBasePribor {
    Q_OBJECT
    Q_PROPERTY(quint32 IndColor READ IndColor WRITE SetIndColor)
    Q_PROPERTY(int IndWidth READ IndWidth WRITE SetIndWidth)
    Q_PROPERTY(quint32 AirColor READ AirColor WRITE SetAirColor)
    Q_PROPERTY(quint32 GroundColor READ GroundColor WRITE SetGroundColor)
    Q_PROPERTY(double Tangaj READ Tangaj WRITE SetTangaj)
    Q_PROPERTY(double Kren READ Kren WRITE SetKren)
    Q_PROPERTY(int Sectors READ Sectors WRITE SetSectors)
    Q_PROPERTY(double Radius READ Radius WRITE SetRadius)
    Q_PROPERTY(bool ShowSign READ ShowSign WRITE SetShowSign)

public:
    explicit TGorizont(QWidget* owner = nullptr);
    ~TGorizont() override;

    // Pen colour and width of the reference diameter and the roll pointer (width unchecked).
    TColor IndColor() const { return FIndColor; }
    void SetIndColor(TColor value);
    int IndWidth() const { return FIndWidth; }
    void SetIndWidth(int value);
    TColor AirColor() const { return FAirColor; }
    void SetAirColor(TColor value);
    TColor GroundColor() const { return FGroundColor; }
    void SetGroundColor(TColor value);

    // Pitch in degrees, -90 to 90; other values (NaN included) are ignored.
    double Tangaj() const { return FTangaj; }
    void SetTangaj(double value);
    // Roll in degrees, -180 to 180; other values (NaN included) are ignored.
    double Kren() const { return FKren; }
    void SetKren(double value);
    // Sets roll and pitch with one repaint. An out-of-range value of either leaves both as
    // they were.
    void SetKrenTangaj(double kren, double tangaj);

    // Scale divisions in a half circle, 2 to 24; other values become 4.
    int Sectors() const { return FSectors; }
    void SetSectors(int value);
    // Horizon disc radius as a fraction of half the width, 0.5 to 1.0; other values (NaN
    // included) become 0.8.
    double Radius() const { return FRadius; }
    void SetRadius(double value);
    // Whether the scale labels keep their minus sign.
    bool ShowSign() const { return FShowSign; }
    void SetShowSign(bool value);

    // Font of the pitch read-out. Changing it in place neither repaints nor marks anything; the
    // next paint uses it. SetIndFont copies every attribute and repaints, even an equal font.
    TFont& IndFont() { return FIndFont; }
    const TFont& IndFont() const { return FIndFont; }
    void SetIndFont(const TFont& value);

    // The pitch read-out as shown: one decimal, the operator's decimal separator.
    QString ReadoutText() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int w) const override { return w; }

protected:
    void Paint(QPainter& canvas) override;
    void DrawTable(QPainter& canvas) override;
    // Draws the cached face and the moving parts over it.
    void DrawHorizon(QPainter& canvas);
    // Keeps the widget square with side Width.
    void resizeEvent(QResizeEvent* event) override;
    // Also true when IndFont was changed in place or the read-out text (the regional decimal
    // separator) differs from what the last paint showed.
    bool PaintInputsChanged() const override;

private:
    void SetIndicatorColor(TColor& field, TColor value);
    void DrawSkyAndGround(QPainter& canvas, const HorizonLayout& hz);
    void DrawReadout(QPainter& canvas, const HorizonLayout& hz);
    void DrawBezelOverlay(qreal ratio);

    TColor FIndColor;
    int FIndWidth;
    TColor FAirColor;
    TColor FGroundColor;
    double FTangaj;
    double FKren;
    int FSectors;
    double FRadius;
    bool FShowSign;
    TFont FIndFont;
    // The read-out as the last paint drew it: its font and text.
    TFont FPaintedIndFont;
    QString FPaintedReadout;
    // The bezel ring does not move, so it is drawn with the face into this transparent overlay
    // and composited last, where the drawing order puts it.
    QImage FBezelBitmap;
};

} // namespace orvi::widgets
