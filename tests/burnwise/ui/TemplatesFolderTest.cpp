#include "burnwise/ui/TemplatesFolder.h"

#include "FormFixture.h"

namespace burnwise::ui::testing {
namespace {

TEST(TemplatesFolder, PrefersTheFolderBesideTheProgram) {
    TempFolder t;
    fs::create_directories(t.Path / "bin" / "Templates");
    std::error_code error;
    const fs::path found =
        FindTemplatesFolder({t.Path / "bin", (t.Path / "data").string(), t.Path.string()}, error);
    EXPECT_EQ(found, t.Path / "bin" / "Templates");
    EXPECT_FALSE(fs::exists(t.Path / "data")) << "nothing is created then";
}

TEST(TemplatesFolder, CreatesAndSeedsTheUserFolderOnce) {
    TempFolder t;
    std::error_code error;
    const TemplatesFolderSources sources{t.Path / "bin", (t.Path / "data").string(),
                                         (t.Path / "home").string()};
    const fs::path folder = FindTemplatesFolder(sources, error);
    ASSERT_FALSE(error) << error.message();
    EXPECT_EQ(folder, t.Path / "data" / "burnwise" / "Templates");
    ASSERT_GE(ExampleTemplates().size(), 3u);
    for (const ExampleTemplate& example : ExampleTemplates()) {
        EXPECT_EQ(ReadBytes(folder / example.FileName), example.Contents) << example.FileName;
        EXPECT_TRUE(example.FileName.ends_with(".ept"));
    }

    // A template the user removed stays removed.
    const fs::path removed = folder / ExampleTemplates().front().FileName;
    fs::remove(removed);
    EXPECT_EQ(FindTemplatesFolder(sources, error), folder);
    EXPECT_FALSE(fs::exists(removed));

    // Without (or with a relative) XDG_DATA_HOME the folder is under the home folder.
    EXPECT_EQ(FindTemplatesFolder({{}, "relative/data", (t.Path / "home").string()}, error),
              t.Path / "home" / ".local" / "share" / "burnwise" / "Templates");
}

TEST(TemplatesFolder, ShippedExamplesAreValidTemplates) {
    for (const ExampleTemplate& example : ExampleTemplates()) {
        SCOPED_TRACE(example.FileName);
        StartedForm p;
        p.Form.ReadTemplate(ProfileFile::Parse(example.Contents));
        EXPECT_NE(p.Form.List("CB1").ItemIndex, 0);
        EXPECT_TRUE(p.Form.ValidateTemplate()) << ::testing::PrintToString(p.Form.Messages().Lines);
        EXPECT_TRUE(p.Host.Boxes().empty());
        EXPECT_EQ(OpenWithoutWindow(ProfileFile::Parse(example.Contents)).first,
                  p.Form.CurrentTemplate());
    }
}

} // namespace
} // namespace burnwise::ui::testing
