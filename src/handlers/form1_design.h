#pragma once

// The main window as designed, for both windows to render: its controls,
// their places, captions and fonts, and what screen readers say of them.

#include <functional>
#include <string>

#include "input/drop_zones.h"
#include "state/merge_state.h"

namespace a5merge {

// Places are designed in twips: 15 to a pixel at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kForm1Width = 2415, kForm1Height = 5025;  // its client area
inline constexpr int kForm1Left = 3300, kForm1Top = 2295;      // on the screen

struct DesignFont {
    double points;
    bool bold;
};
inline constexpr DesignFont kForm1Font{8.25, false};  // the window's, and its buttons'
inline constexpr DesignFont kTipFont{8.25, true};     // the zones' tooltips

// The controls, in the order they are made: the buttons before the zones,
// as the Tab order has them, MERGE + SAVE first with the focus.
enum class Form1Control {
    lblKorva,
    lblA5,
    cmdMerge,
    cmdExit,
    frmTop,
    lblTop,
    frmBottom,
    lblBottom
};

struct ControlDesign {
    Form1Control id;
    const char* name;
    const char* caption;           // a zone's is drawn on its frame
    int left, top, width, height;  // twips; a zone's label inside its zone
    DesignFont font;
};

inline constexpr ControlDesign kForm1Controls[] = {
    {Form1Control::lblKorva,
     "lblKorva",
     "Korvalith Postscript Merge",
     120,
     120,
     2295,
     255,
     {8.25, true}},
    {Form1Control::lblA5, "lblA5", "2x A5  -->  1x A4", 360, 360, 1695, 375, {9.75, true}},
    {Form1Control::cmdMerge, "cmdMerge", "MERGE + SAVE", 480, 3840, 1455, 375, kForm1Font},
    {Form1Control::cmdExit, "cmdExit", "EXIT", 480, 4440, 1455, 375, kForm1Font},
    {Form1Control::frmTop, "frmTop", "Drag/Drop", 120, 840, 2175, 1335, kForm1Font},
    {Form1Control::lblTop, "lblTop", "TOP", 600, 480, 1095, 495, {20.25, true}},
    {Form1Control::frmBottom, "frmBottom", "Drag/Drop", 120, 2280, 2175, 1335, kForm1Font},
    {Form1Control::lblBottom, "lblBottom", "BOTTOM", 120, 480, 1935, 615, {20.25, true}},
};

inline constexpr const ControlDesign& DesignOf(Form1Control id) {
    return kForm1Controls[static_cast<int>(id)];
}

// The point size a caption designed at `points` is shrunk to, in steps of
// a quarter point down to 4, until `fitsAt` says it fits.
double FittedPoints(double points, const std::function<bool(double points)>& fitsAt);

// What a screen reader names a zone: its state and its file's name ("TOP
// drop zone, left.ps"), spoken when it changes. The state is the zone's
// file, not its label, which MERGE + SAVE sets back while the files stay.
std::string ZoneAccessibleName(Zone zone, const MergeState& state);
inline constexpr const char* kZoneAccessibleHelp =
    "Space or Enter chooses a file; a file can also be dropped or pasted here. ";

}  // namespace a5merge
