#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace qs {

// The chat page's files, read into memory once at start so that serving them never
// touches the disk from an event loop: every regular file under the root whose real path
// (symbolic links followed) stays under the root's. Const after load(): any thread may read.
class web_files {
public:
    struct file {
        std::string body;
        const char* type; // its Content-Type
    };

    // Reads root; null with why when root is no folder that can be read, or holds more
    // than most_bytes in all.
    static std::unique_ptr<web_files> load(const std::string& root, std::string& why,
                                           std::size_t most_bytes = 64 << 20);

    // The file a request target names ("/" and folders: their index.html), percent-encoding
    // decoded, the query left out; null for none, and for any "." or ".." segment.
    const file* find(std::string_view target) const;
    std::size_t size() const { return files_.size(); }

private:
    std::unordered_map<std::string, file> files_; // by path under the root, "js/app.js"
};

// The Content-Type of a file, by its name's ending.
const char* content_type(std::string_view name);

// The path of a request target, the query and fragment left out and percent-encoding
// decoded; "" when it is no absolute path, its encoding is broken or it holds a NUL.
std::string decoded_path(std::string_view target);

// Where the page is when web_root is not set: share/quillspeak/web beside the installed
// program, else fallback (the source tree's web/ in a build tree).
std::string default_web_root(const std::string& fallback);

} // namespace qs
