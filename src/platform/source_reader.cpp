#include "platform/source_reader.h"

namespace kvl::platform {

namespace {

class system_reader final : public source_reader {
  public:
    int64_t read_at(const os_file& file, int64_t offset, uint8_t* data, int64_t size) override {
        return file.read_full_at(offset, data, size);
    }
};

source_reader*& current() {
    static system_reader system;
    static source_reader* in_use = &system;
    return in_use;
}

}  // namespace

source_reader& reader() {
    return *current();
}

scoped_reader::scoped_reader(source_reader& replacement) : saved_(current()) {
    current() = &replacement;
}

scoped_reader::~scoped_reader() {
    current() = saved_;
}

}  // namespace kvl::platform
