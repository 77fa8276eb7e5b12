#pragma once

// Numeric resource ids of the icons and header bitmaps; the numbers are part of the window's design and
// are shared with the pictures' file names in res/icons/.

// Icons, 32-bit with alpha.
inline constexpr int IDR_MAINFRAME = 128; // application icon, 48 x 48
inline constexpr int IDI_DELETE = 130;
inline constexpr int IDI_EXIT = 131;
inline constexpr int IDI_INSERT = 132;
inline constexpr int IDI_REPLACE = 133;
inline constexpr int IDI_PLAY = 134;
inline constexpr int IDI_EXPORT = 135;
inline constexpr int IDI_APPEND = 137;
inline constexpr int IDI_DOWN = 139;
inline constexpr int IDI_UP = 140;
inline constexpr int IDI_BUILD = 141;
inline constexpr int IDI_LOAD = 142;
inline constexpr int IDI_STOP = 147;    // the play icon's place while its row plays
inline constexpr int IDI_CAPTION = 153; // frame caption icon, 32 x 32

// Column header bitmaps: opaque, on the button-face colour that the header keys out.
inline constexpr int IDB_HEADER_MARK = 138; // 10 x 10
inline constexpr int IDB_HEADER_PLAY = 143;
inline constexpr int IDB_HEADER_DELETE = 144;
inline constexpr int IDB_HEADER_REPLACE = 145;
