// The partition table walk: the bytes as a disk image, its MBR and chain of extended boot records,
// and every partition it names opened as a volume.
#include "fuzz_support.h"
#include "storage/disk_storage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvl::fuzz::quiet_ui ui;
    const kvl::fuzz::memory_image image(data, size);
    kvl::disk_storage disk;
    if (!image.open(disk)) return 0;
    kvl::partition_list list;
    if (!disk.get_partition_list(list)) return 0;
    for (const kvl::partition_entry& entry : list) {
        if (entry.type == kvl::PARTITION_TYPE_EMPTY || kvl::is_container_type(entry.type)) continue;
        kvl::disk_storage volume;
        if (volume.open(kvl::partition_source(image.path(), entry.first_sector))) {
            volume.detect_file_system();
            volume.size();
        }
    }
    return 0;
}
