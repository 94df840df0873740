#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

// What the EXIF reader finds in the head of a JPEG file. The viewer uses only orientation and
// hasExif; the other fields are decoded because the block carries them. Texts are NUL-
// terminated 8-bit strings. The record is cleared to zeros by every read.
struct ExifInfo {
    char exifVersion[5];
    char cameraMake[32];
    char cameraModel[40];
    char dateTimeOriginal[20];
    int32_t imageHeight;
    int32_t imageWidth;
    int32_t orientation;  // 1 to 8, or 0 when absent or invalid
    int32_t isColour;
    int32_t jpegProcess;
    int32_t flashUsed;
    float focalLength;
    float exposureTime;
    float fNumber;
    float subjectDistance;
    float sensorWidth;
    float exposureBias;
    int32_t lightSource;
    int32_t meteringMode;
    int32_t exposureProgram;
    int32_t isoSpeed;
    int32_t compressedBitsPerPixel;
    float focalPlaneXResolution;
    float focalPlaneYResolution;
    float focalPlaneUnit;
    float xResolution;
    float yResolution;
    float resolutionUnit;
    float brightness;
    char comment[1000];
    // Points into a section buffer that is freed when the read ends: never dereference it
    // after readPictureExif returns.
    const uint8_t* thumbnail;
    int32_t thumbnailSize;
    bool hasExif;
};

// Reads the head of the file into info (cleared first once the file is open). Returns 0 when
// an Exif block was read successfully (info.hasExif set), -1 otherwise, also when the file
// can't be opened or doesn't begin with 0xFF. Only the head up to the start of scan is read.
int32_t readPictureExif(const std::filesystem::path& file, ExifInfo& info);

// The same over bytes already in memory (tests, fuzzing).
int32_t readExifFromBytes(std::span<const uint8_t> bytes, ExifInfo& info);

// The render's rotation code for a read: 0 none, 1 a quarter turn clockwise, 2 a quarter turn
// counter-clockwise, 3 a half turn. Mirrored orientations get the turn of their pair only.
int32_t rotationFromExif(int32_t readResult, const ExifInfo& info);
