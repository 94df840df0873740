#pragma once

// Texts of the product that the code shows or sends; the window title texts live with the
// code that sets them.
namespace product {

inline constexpr char kName[] = "Quillmere";
inline constexpr char kVersionLine[] = "Quillmere, Version 1.2";
inline constexpr char kAboutTitle[] = " About Quillmere";
inline constexpr char kAboutMenuText[] = " &About Quillmere...";
inline constexpr char kAboutSecondLine[] = "A fast picture viewer for the desktop.";
// The product web site, opened with the "open" verb.
inline constexpr char kWebSite[] = "http://quillmere.org/";
// Resource path of the application icon (SVG).
inline constexpr char kIconResource[] = ":/quillmere/quillmere.svg";

}  // namespace product
