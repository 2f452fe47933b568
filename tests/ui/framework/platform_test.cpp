// The application object, message-box ownership, addresses, and the file dialogs' default
// extension and replace question.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "core/front_end.h"
#include "tests/ui/framework/demo_dialog.h"
#include "tests/ui/framework/scripted_blocking.h"
#include "ui/framework/file_dialog.h"
#include "ui/framework/win_app.h"

namespace {

struct RecordingApp final : CWinApp {
    bool initInstance() override {
        seenCommandLine = m_lpCmdLine;
        seenArguments = m_arguments;
        return false;
    }
    std::string seenCommandLine;
    std::vector<std::string> seenArguments;
};

TEST(Application, StartsThroughInitInstanceWithTheArgumentsAsBytes) {
    {
        RecordingApp app;
        EXPECT_EQ(CWinApp::instance(), &app);
        std::string args[] = {"chipsight", "a.bin", "", "caf\xe9 c.bin", "--", "-platform", "--"};
        char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(),
                        args[4].data(), args[5].data(), args[6].data(), nullptr};
        // initInstance returning false ends the program at once, without an event loop.
        EXPECT_EQ(CWinApp::run(7, argv), 0);
        EXPECT_EQ(app.seenCommandLine, "a.bin  caf\xe9 c.bin -platform --");
        EXPECT_EQ(app.seenArguments,
                  (std::vector<std::string>{"a.bin", "", "caf\xe9 c.bin", "-platform", "--"}));
    }
    EXPECT_EQ(CWinApp::instance(), nullptr);
}

TEST(Application, BoxesAndDialogsWithoutAnOwnerBelongToTheMainWindow) {
    ScriptedBlocking blocking;
    RecordingApp app;
    CDemoDialog main;
    app.m_pMainWnd = &main;
    messageBox(nullptr, QStringLiteral("text"), QStringLiteral("caption"), MB_OK);
    ASSERT_EQ(blocking.boxes.size(), 1u);
    EXPECT_EQ(blocking.boxes[0].owner, &main);

    CDialog owned(kDetailsTemplate);
    EXPECT_EQ(owned.parentWidget(), &main);
    CDialog other(kDetailsTemplate, &owned);
    EXPECT_EQ(other.parentWidget(), &owned);

    EXPECT_TRUE(openUrl(QStringLiteral("http://www.chipsight.example")));
    ASSERT_EQ(blocking.urls.size(), 1u);
    EXPECT_EQ(blocking.urls[0], QUrl(QStringLiteral("http://www.chipsight.example")));
}

class FileDialogs : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        QFile existing(path("old.log"));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    }
    QString path(const char* name) const {
        return QDir(dir_.path()).filePath(QString::fromLatin1(name));
    }

    QTemporaryDir dir_;
    ScriptedBlocking blocking_;
};

TEST_F(FileDialogs, SaveAddsTheDefaultExtensionAndAsksBeforeReplacing) {
    blocking_.fileAnswers = {path("old"), path("new")};
    blocking_.boxAnswers.push_back([](const BoxCall&) { return IDNO; });
    CFileDialog dialog(false, QStringLiteral("log"), {}, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
    ASSERT_EQ(dialog.doModal(), IDOK);
    EXPECT_EQ(dialog.getPathName(), path("new.log"));

    // No to the question goes back to the choice.
    ASSERT_EQ(blocking_.fileRequests.size(), 2u);
    EXPECT_FALSE(blocking_.fileRequests[0].open);
    ASSERT_EQ(blocking_.boxes.size(), 1u);
    EXPECT_EQ(blocking_.boxes[0].text,
              QStringLiteral("old.log already exists.\nDo you want to replace it?"));
    EXPECT_EQ(blocking_.boxes[0].type, unsigned{MB_YESNO | MB_ICONEXCLAMATION});
}

TEST_F(FileDialogs, YesReplacesAndAnOpenTakesAnyNameWithoutQuestions) {
    blocking_.fileAnswers = {path("old.log"), path("report.txt"), path("missing"), std::nullopt};
    blocking_.boxAnswers.push_back([](const BoxCall&) { return IDYES; });
    CFileDialog replace(false, QStringLiteral("log"), {}, OFN_OVERWRITEPROMPT);
    ASSERT_EQ(replace.doModal(), IDOK);
    EXPECT_EQ(replace.getPathName(), path("old.log"));
    ASSERT_EQ(replace.doModal(), IDOK);
    EXPECT_EQ(replace.getPathName(), path("report.txt")) << "a name with an extension is kept";

    CFileDialog open(true);
    ASSERT_EQ(open.doModal(), IDOK);
    EXPECT_EQ(open.getPathName(), path("missing"));
    EXPECT_TRUE(blocking_.fileRequests[2].open);
    EXPECT_EQ(open.doModal(), IDCANCEL);
    EXPECT_EQ(blocking_.boxes.size(), 1u);
}

}  // namespace
