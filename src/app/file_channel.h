#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QLocalServer;

namespace a5merge {

// Where the running copy listens for files: beside its lock, `a5merge.lock`
// becoming `a5merge.socket` (in a folder of the user's own).
QString FileChannelPath(const std::string& lockPath);

// The running copy's door for files: a local socket only this user may open
// (and whose peers are checked to be this user). A message holds one or two
// absolute file names, as bytes, handed to `take` (TOP first, then BOTTOM),
// or none: then the window is only asked to come to the front. Anything
// else is refused and nothing is taken; so is what `take` cannot take now.
class FileChannel : public QObject {
public:
    // Takes `files` (none: comes to the front); false when it cannot now.
    using Take = std::function<bool(const std::vector<std::string>& files)>;

    // Only for the holder of the single-copy lock: a socket already at
    // `path` (left by a killed copy) is taken over.
    FileChannel(const QString& path, Take take, QObject* parent = nullptr);
    ~FileChannel() override;
    bool listening() const;

    // The message for `files`, as a second copy sends it.
    static std::string Message(const std::vector<std::string>& files);
    // The files of `message`, or nothing when it is not one of ours.
    static std::optional<std::vector<std::string>> FilesOf(std::string_view message);

private:
    void Accept();

    QLocalServer* server_;
    Take take_;
};

// Hands `files` (none: only "come to the front") to the copy listening at
// `path`, once it is known to run as this user; true once it has taken them.
bool SendFilesToRunningCopy(const QString& path, const std::vector<std::string>& files,
                            int timeoutMs = 3000);

}  // namespace a5merge
