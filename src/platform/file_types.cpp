#include "platform/file_types.h"

namespace kvl::platform {

namespace {

file_type_provider*& current() {
    static no_file_types none;
    static file_type_provider* in_use = &none;
    return in_use;
}

}  // namespace

file_type_provider& file_types() {
    return *current();
}

scoped_file_types::scoped_file_types(file_type_provider& provider) : saved_(current()) {
    current() = &provider;
}

scoped_file_types::~scoped_file_types() {
    current() = saved_;
}

}  // namespace kvl::platform
