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
// becoming `a5merge.socket`.
QString FileChannelPath(const QString& lockPath);

// The running copy's door for files: a local socket only this user may open
// (and whose peers are checked to be this user). A message holds one or two
// absolute file names, as bytes; each one taken is handed to `take` (TOP
// first, then BOTTOM), anything else is refused and nothing is taken.
class FileChannel : public QObject {
public:
    using Take = std::function<void(const std::vector<std::string>& files)>;

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

// Hands `files` to the copy listening at `path`; true once it has taken them.
bool SendFilesToRunningCopy(const QString& path, const std::vector<std::string>& files,
                            int timeoutMs = 3000);

}  // namespace a5merge
