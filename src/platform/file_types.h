#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Descriptions and small icons of file types by extension, and the image list icons are added to.
// The core's own provider knows none, so the generic texts and images stand; the window's provider
// asks the desktop's MIME database and icon theme.
namespace kvl::platform {

// A 16 x 16 icon: a colour per pixel (0xRRGGBB) and a mask where true means opaque.
struct icon16 {
    std::array<uint32_t, 256> color{};
    std::array<bool, 256> opaque{};
    bool operator==(const icon16&) const = default;
};

class file_type_provider {
  public:
    virtual ~file_type_provider() = default;
    // The description of an extension such as ".txt", or nothing when the system has none.
    virtual std::optional<std::u16string> description(const std::u16string& extension) = 0;
    virtual std::optional<icon16> icon(const std::u16string& extension) = 0;
};

class no_file_types final : public file_type_provider {
  public:
    std::optional<std::u16string> description(const std::u16string&) override { return std::nullopt; }
    std::optional<icon16> icon(const std::u16string&) override { return std::nullopt; }
};

class memory_file_types final : public file_type_provider {
  public:
    std::optional<std::u16string> description(const std::u16string& extension) override {
        const auto found = descriptions.find(extension);
        return found == descriptions.end() ? std::nullopt : std::optional(found->second);
    }
    std::optional<icon16> icon(const std::u16string& extension) override {
        ++icon_lookups;
        const auto found = icons.find(extension);
        return found == icons.end() ? std::nullopt : std::optional(found->second);
    }
    std::map<std::u16string, std::u16string> descriptions;
    std::map<std::u16string, icon16> icons;
    int icon_lookups = 0;
};

// The list of images the tree and the lists draw from; icons are appended.
class image_list {
  public:
    virtual ~image_list() = default;
    virtual int add(const icon16& icon) = 0;
};

class memory_image_list final : public image_list {
  public:
    // Starts with `reserved` fixed images, as the window's list starts with its own pictures.
    explicit memory_image_list(int reserved = 40) : reserved_(reserved) {}
    int add(const icon16& icon) override {
        added.push_back(icon);
        return reserved_ + static_cast<int>(added.size()) - 1;
    }
    std::vector<icon16> added;

  private:
    int reserved_;
};

// The provider in use: none unless a scope installs one.
file_type_provider& file_types();

class scoped_file_types {
  public:
    explicit scoped_file_types(file_type_provider& provider);
    ~scoped_file_types();
    scoped_file_types(const scoped_file_types&) = delete;
    scoped_file_types& operator=(const scoped_file_types&) = delete;

  private:
    file_type_provider* saved_;
};

}  // namespace kvl::platform
