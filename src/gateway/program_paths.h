#pragma once

#include <QString>
#include <functional>

#include "gateway/program.h"

namespace tarnel {

// The user's own folders by the XDG base directory rules: $XDG_CONFIG_HOME
// and $XDG_DATA_HOME when set to an absolute path, else ~/.config and
// ~/.local/share.
struct UserFolders {
    QString configHome;
    QString dataHome;

    static UserFolders fromEnvironment();
};

// Whether the program may keep its settings and files beside the executable
// in `folder`.
using BesideExecutableCheck = std::function<bool(const QString& folder)>;

// The check the program uses: the folder can be written (its mode bits and
// the access check, so that a folder frozen with chmod a-w counts as
// read-only for root too) and it is not the bin folder of an installed copy
// (one with share/applications/tarnel.desktop beside it, as /usr/bin has),
// whose folder belongs to the package manager even when root could write it.
bool MayKeepFilesBesideExecutable(const QString& folder);

// Where the settings file, the files folder and the default data folder are.
// Beside the executable (a build tree, a portable copy) when `besideExecutable`
// allows it: <folder>/<base name>.ini and <folder>/files, with the executable's
// folder as the default data folder. Otherwise under the user's folders:
// <config>/Tarnel/tarnel.ini, <data>/Tarnel/files and <data>/Tarnel. A
// non-empty `settingsOption` (--settings FILE) is the settings file in
// either case. Nothing on disk is touched but through `besideExecutable`.
ProgramPaths ResolveProgramPaths(
    const QString& executableFilePath, const QString& settingsOption,
    const UserFolders& user = UserFolders::fromEnvironment(),
    const BesideExecutableCheck& besideExecutable = MayKeepFilesBesideExecutable);

// Makes the folders of `paths` that live under the user's folders: the data
// folder and, unless the settings file was named on the command line, the
// settings file's folder, so that the settings can be written at close.
void MakeUserFolders(const ProgramPaths& paths, const QString& settingsOption);

}  // namespace tarnel
