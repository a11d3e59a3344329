// Templates opened and saved at paths a user may well give: folders, pipes, endless devices,
// links, read-only files. Each ends in the right result or one error box, and loses nothing.

#include "FormFixture.h"
#include "burnwise/ui/FileAccess.h"

#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace burnwise::ui::testing {
namespace {

const std::string Kr2sTemplate = "[Basic Details]\r\nDevice Type=3\r\n"
                                 "[USB String Descriptors]\r\nManufacturer=Pipe Works\r\n";

mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TEST(FileSafety, OpeningOddPathsShowsOneBoxAndKeepsTheForm) {
    struct Case {
        const char* What;
        std::function<fs::path(const fs::path& folder)> Make;
        const char* Reason; // part of the box text
    };
    const std::vector<Case> cases = {
        {"a folder", [](const fs::path& f) { return f; }, "is a folder"},
        {"an endless device", [](const fs::path&) { return fs::path("/dev/zero"); },
         "is longer than 262144 bytes"},
        {"a missing file", [](const fs::path& f) { return f / "missing.ept"; },
         "No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        StartedForm p;
        p.NewWithModel("KR2S");
        const std::string before = States(p.Form, {"CB1", "Edit10", "Edit11"});
        const fs::path path = c.Make(p.Folder.Path);
        p.Open(path);
        ASSERT_EQ(p.Host.Boxes().size(), 1u);
        EXPECT_TRUE(
            p.Host.Boxes()[0].starts_with("error: Cannot open file \"" + path.string() + "\": "))
            << p.Host.Boxes()[0];
        EXPECT_NE(p.Host.Boxes()[0].find(c.Reason), std::string::npos) << p.Host.Boxes()[0];
        EXPECT_EQ(p.Form.Caption, EditModeCaption) << "the handler ends at the failed read";
        EXPECT_EQ(States(p.Form, {"CB1", "Edit10", "Edit11"}), before);
        EXPECT_TRUE(p.Form.TemplateFileName().empty());
    }
}

TEST(FileSafety, APipeIsReadLikeAFile) {
    StartedForm p;
    const fs::path fifo = p.Folder.Path / "t.ept";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { WriteBytes(fifo, Kr2sTemplate); });
    p.Open(fifo);
    writer.join();
    EXPECT_TRUE(p.Host.Boxes().empty());
    EXPECT_EQ(p.Form.Caption, ProgramModeCaption);
    EXPECT_EQ(p.Form.Text("Edit10").Text, "Pipe Works");
    EXPECT_EQ(p.Form.List("CB1").ItemIndex, 3);
}

TEST(FileSafety, SavingOverOddTargetsIsRefusedWithNothingChanged) {
    struct Case {
        const char* What;
        std::function<fs::path(const fs::path& folder)> Make;
        std::function<void(const fs::path& target)> Check;
    };
    const std::vector<Case> cases = {
        {"a folder",
         [](const fs::path& f) {
             fs::create_directory(f / "d.ept");
             return f / "d.ept";
         },
         [](const fs::path& t) { EXPECT_TRUE(fs::is_directory(t)); }},
        {"a read-only file (refused for root too)",
         [](const fs::path& f) {
             WriteBytes(f / "ro.ept", "keep");
             ::chmod((f / "ro.ept").c_str(), 0444);
             return f / "ro.ept";
         },
         [](const fs::path& t) {
             EXPECT_EQ(ReadBytes(t), "keep");
             EXPECT_EQ(ModeOf(t), 0444u);
         }},
        {"a pipe",
         [](const fs::path& f) {
             ::mkfifo((f / "p.ept").c_str(), 0600);
             return f / "p.ept";
         },
         [](const fs::path& t) { EXPECT_TRUE(fs::is_fifo(t)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        StartedForm p;
        p.NewWithModel("KR2S");
        const fs::path target = c.Make(p.Folder.Path);
        EXPECT_FALSE(p.SaveAs(target));
        EXPECT_EQ(p.Host.Boxes(),
                  std::vector<std::string>{"error: Unable to write to " + target.string()});
        EXPECT_EQ(p.Form.Caption, EditModeCaption);
        c.Check(target);
        EXPECT_EQ(std::distance(fs::directory_iterator(p.Folder.Path), fs::directory_iterator()), 1)
            << "no temporary file is left behind";
    }
}

TEST(FileSafety, SavingThroughALinkReplacesItsTargetAndKeepsTheLink) {
    for (const bool targetExists : {true, false}) {
        SCOPED_TRACE(targetExists ? "existing target" : "target not there yet");
        StartedForm p;
        const fs::path target = p.Folder.Path / "real.ept";
        const fs::path link = p.Folder.Path / "link.ept";
        if (targetExists) {
            WriteBytes(target, "[Mine]\r\nkept=1\r\n");
            ::chmod(target.c_str(), 0640);
        }
        fs::create_symlink("real.ept", link);
        p.NewWithModel("KR2S");
        ASSERT_TRUE(p.SaveAs(link)) << ::testing::PrintToString(p.Host.Boxes());
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(fs::read_symlink(link), "real.ept");
        const std::string saved = ReadBytes(target);
        EXPECT_NE(saved.find("Device Type=3\r\n"), std::string::npos);
        if (targetExists) {
            EXPECT_TRUE(saved.starts_with("[Mine]\r\nkept=1\r\n")) << "foreign sections stay";
            EXPECT_EQ(ModeOf(target), 0640u) << "an existing file keeps its mode";
        }
    }
}

TEST(FileSafety, ANewFileTakesTheUmaskWhichIsLeftAlone) {
    for (const mode_t mask : {mode_t{077}, mode_t{022}}) {
        const mode_t saved = ::umask(mask);
        {
            StartedForm p;
            p.NewWithModel("KR2S");
            const fs::path file = p.Folder.Path / "new.ept";
            EXPECT_TRUE(p.SaveAs(file));
            EXPECT_EQ(ModeOf(file), 0666u & ~mask);
        }
        EXPECT_EQ(::umask(saved), mask) << "the save must not change the umask";
    }
}

} // namespace
} // namespace burnwise::ui::testing
