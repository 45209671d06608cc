#include "core/message_log.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "core/base.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

TEST(MessageLog, ErrorLineIsOriginArrowAndMessage) {
    test::test_ui ui;
    base worker;
    worker.report_error("disk_storage::open", u"Cannot open partition");
    ASSERT_EQ(ui.log.lines.size(), 1u);
    EXPECT_EQ(ui.log.lines[0].text, u"disk_storage::open=> Cannot open partition");
    EXPECT_EQ(ui.log.lines[0].image, 1);
}

TEST(MessageLog, EmptyMessageShowsTheSystemTextOfTheLastError) {
    test::test_ui ui;
    base worker;
    errno = ENOENT;
    worker.report_error("registry::open", u"");
    EXPECT_EQ(ui.log_texts(), std::vector<std::u16string>{u"registry::open=> No such file or directory"});
}

TEST(MessageLog, LineBreaksAreRemovedWithoutReplacement) {
    test::test_ui ui;
    base worker;
    worker.report_error("x::y", u"first\r\nsecond\nthird\r");
    EXPECT_EQ(ui.log_texts(), std::vector<std::u16string>{u"x::y=> firstsecondthird"});
}

TEST(MessageLog, SilentWorkerReportsNothing) {
    test::test_ui ui;
    base worker;
    worker.silent = true;
    worker.report_error("x::y", u"ignored");
    EXPECT_TRUE(ui.log.lines.empty());
    EXPECT_TRUE(ui.boxes.shown.empty());
}

TEST(MessageLog, BeforeTheLogIsBoundEveryReportIsAnErrorBox) {
    test::test_ui ui;
    bind_message_log(nullptr);
    base worker;
    worker.report_error("xfs_nodes::load_from_file", u"one");
    worker.report_error("xfs_nodes::load_from_file", u"two\r\n");
    ASSERT_EQ(ui.boxes.shown.size(), 2u);
    EXPECT_EQ(ui.boxes.shown[0].caption, u"Error");
    EXPECT_EQ(ui.boxes.shown[0].icon, platform::box_icon::warning);
    EXPECT_EQ(ui.boxes.shown[1].text, u"xfs_nodes::load_from_file=> two");
}

TEST(MessageLog, NotesAreUnchangedWithTheNoteImage) {
    test::test_ui ui;
    log_note(u"Extracting     a.txt\r\n");
    ASSERT_EQ(ui.log.lines.size(), 1u);
    EXPECT_EQ(ui.log.lines[0].text, u"Extracting     a.txt\r\n");
    EXPECT_EQ(ui.log.lines[0].image, 0);

    bind_message_log(nullptr);
    log_note(u"hello");
    ASSERT_EQ(ui.boxes.shown.size(), 1u);
    EXPECT_EQ(ui.boxes.shown[0].caption, u"Note");
    EXPECT_EQ(ui.boxes.shown[0].icon, platform::box_icon::information);
}

TEST(ScopedSilence, RestoresTheFlagOnEveryPath) {
    base worker;
    {
        scoped_silence quiet(worker);
        EXPECT_TRUE(worker.silent);
    }
    EXPECT_FALSE(worker.silent);
    worker.silent = true;
    { scoped_silence quiet(worker); }
    EXPECT_TRUE(worker.silent);
}

}  // namespace
}  // namespace kvl
