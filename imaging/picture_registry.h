#pragma once
// Registered pictures: LoadPicture decodes picture bytes or a picture file and registers the
// result under a handle; the drawing operations (the panel's DrawPicture, the printer's picture
// drawing) look every handle up and do nothing for 0 or a handle that is not registered;
// UnloadPicture frees the picture. Handles are never reused during a run, so a handle kept after
// its UnloadPicture can never name a later picture. One registry per process, used from the GUI
// thread only.

#include "imaging/picture.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

namespace vantrel::imaging {

// Identity of a registered picture; 0 means none.
using PictureHandle = std::uint64_t;

class PictureRegistry {
public:
    // Registers `picture` (nullptr gives 0) and returns its new handle.
    PictureHandle add(std::unique_ptr<PictureObject> picture);
    // The registered picture, or nullptr for 0 and handles not (or no longer) registered.
    const PictureObject* find(PictureHandle handle) const;
    // Frees the picture; false when the handle was not registered.
    bool remove(PictureHandle handle);
    std::size_t size() const { return pictures_.size(); }

private:
    std::unordered_map<PictureHandle, std::unique_ptr<PictureObject>> pictures_;
    PictureHandle next_ = 1;
};

// The process's registry.
PictureRegistry& pictureRegistry();

// Decodes picture bytes (BMP, JPEG, PNG, GIF, icon, cursor, PCX) and registers the picture;
// 0 for an empty buffer, an unknown format or a failed decode.
PictureHandle LoadPicture(std::span<const std::uint8_t> bytes);
// The same, taking over the buffer where it can instead of copying it (a page-sized BMP).
PictureHandle LoadPicture(std::vector<std::uint8_t>&& bytes);
// The same for a page that lives while the picture is used: a BMP whose rows have the picture's
// layout is read where it lies, so the bytes must stay alive and unchanged until UnloadPicture.
PictureHandle LoadPictureBorrowing(std::span<const std::uint8_t> bytes);
// The same for a file; 0 also for an empty name and a file that cannot be read.
PictureHandle LoadPicture(const std::filesystem::path& file);
// Frees a registered picture; 0 and unknown handles are ignored.
void UnloadPicture(PictureHandle handle);

} // namespace vantrel::imaging
