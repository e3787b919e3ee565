// "Help > User manual": where UsrMan.pdf is looked for, and what the user is
// told when it cannot be shown.
#include <QAction>
#include <QDir>

#include "window_fixture.h"

namespace tarnel {
namespace {

struct UserManual : test::WindowTest {
    // The executable lives in <folder>/bin, as an installed one in /usr/bin.
    QDir bin{folder.filePath("bin")};

    UserManual() {
        QDir(folder.path()).mkpath("bin");
        paths.executableFolder = bin.path();
    }
    QString place(const QString& relative) const {
        return QDir::cleanPath(folder.filePath(relative));
    }
    void putManual(const QString& relative) const {
        const QString path = place(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("%PDF-1.4\n");
    }
    QStringList shown(const QString& kind) const {
        QStringList texts;
        for (const auto& box : dialogs.shown)
            if (box.kind == kind) texts << box.text;
        return texts;
    }
};

TEST_F(UserManual, OpensTheFirstManualFoundOrSaysWhyNot) {
    const struct {
        const char* name;
        QStringList manuals;  // where a UsrMan.pdf lies, from the temporary folder
        bool viewerStarts;
        const char* opened;   // the path handed to the viewer, or nullptr
        const char* message;  // what the warning says after the path, or nullptr
    } cases[] = {
        {"beside the executable",
         {"bin/UsrMan.pdf", "share/doc/tarnel/UsrMan.pdf"},
         true,
         "bin/UsrMan.pdf",
         nullptr},
        {"installed under share/doc/tarnel",
         {"share/doc/tarnel/UsrMan.pdf"},
         true,
         "share/doc/tarnel/UsrMan.pdf",
         nullptr},
        {"installed under the project's name",
         {"share/doc/Tarnel/UsrMan.pdf"},
         true,
         "share/doc/Tarnel/UsrMan.pdf",
         nullptr},
        {"nowhere", {}, true, nullptr, "bin/UsrMan.pdf does not exist"},
        {"no viewer",
         {"bin/UsrMan.pdf"},
         false,
         "bin/UsrMan.pdf",
         "bin/UsrMan.pdf: no program to show PDF files was found."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(folder.filePath("share")).removeRecursively();
        QFile::remove(place("bin/UsrMan.pdf"));
        for (const QString& manual : c.manuals)
            putManual(manual);
        dialogs.shown.clear();
        dialogs.documentOpens = c.viewerStarts;
        if (!form) start();
        QDir::setCurrent(QDir::tempPath());

        control<QAction>("Usermanual1")->trigger();

        EXPECT_EQ(QDir::currentPath(), bin.canonicalPath()) << "the executable's folder is current";
        EXPECT_EQ(shown("document"), c.opened ? QStringList{place(c.opened)} : QStringList{});
        const QStringList warnings = shown("warning");
        if (!c.message) {
            EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
            continue;
        }
        ASSERT_EQ(warnings.size(), 1);
        EXPECT_TRUE(warnings[0].startsWith("The user manual could not be opened: "));
        EXPECT_TRUE(warnings[0].contains(place("") + "/" + c.message)) << warnings[0].toStdString();
        EXPECT_EQ(dialogs.shown.back().caption, "User manual");
    }
}

}  // namespace
}  // namespace tarnel
