#pragma once

#include <array>
#include <filesystem>
#include <string_view>

// The extension strings that make a path a picture path: the sixteen lower-case forms, then
// the same sixteen in upper case. Mixed case such as ".Jpg" is deliberately absent.
inline constexpr std::array<std::string_view, 32> pictureExtensions = {
    ".jpg", ".png",  ".jpeg", ".jpe", ".gif", ".bmp", ".jif", ".jfif", ".jfi", ".jp2", ".j2k",
    ".jpf", ".jpx",  ".jpm",  ".mj2", ".tif", ".JPG", ".PNG", ".JPEG", ".JPE", ".GIF", ".BMP",
    ".JIF", ".JFIF", ".JFI",  ".JP2", ".J2K", ".JPF", ".JPX", ".JPM",  ".MJ2", ".TIF",
};

// True when one of pictureExtensions occurs anywhere in the path's native bytes, folder part
// included, with exact case. Not a suffix test: "notes.jpg.txt" and "scan.tiff" are pictures.
bool isPicturePath(const std::filesystem::path& path);
bool isPicturePath(std::string_view nativePath);
