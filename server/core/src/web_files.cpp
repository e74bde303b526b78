#include "web_files.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace qs {

namespace fs = std::filesystem;

namespace {

constexpr int most_depth = 8;

bool ends_with(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "" for a path with a "." or ".." segment.
std::string relative_name(const std::string& path)
{
    std::string name;
    std::size_t at = 1;
    while (at <= path.size()) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string_view segment = std::string_view(path).substr(at, end - at);
        if (segment == "." || segment == "..")
            return "";
        if (!segment.empty())
            name += (name.empty() ? "" : "/") + std::string(segment);
        at = end + 1;
    }
    if (path.back() == '/')
        name += (name.empty() ? "" : "/") + std::string("index.html");
    return name;
}

bool inside(const fs::path& real, const std::string& root)
{
    const std::string s = real.string();
    return s.size() > root.size() && s.compare(0, root.size(), root) == 0 && s[root.size()] == '/';
}

} // namespace

const char* content_type(std::string_view name)
{
    static const std::pair<const char*, const char*> types[] = {
        {".html", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
        {".json", "application/json"},
        {".txt", "text/plain; charset=utf-8"},
    };
    for (const auto& [ending, type] : types)
        if (ends_with(name, ending))
            return type;
    return "application/octet-stream";
}

std::string decoded_path(std::string_view target)
{
    target = target.substr(0, target.find_first_of("?#"));
    if (target.empty() || target.front() != '/')
        return "";
    std::string path;
    for (std::size_t i = 0; i < target.size(); ++i) {
        char c = target[i];
        if (c == '%') {
            const int high = i + 2 < target.size() ? hex_value(target[i + 1]) : -1;
            const int low = high >= 0 ? hex_value(target[i + 2]) : -1;
            if (low < 0)
                return "";
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        if (c == '\0' || c == '\\')
            return "";
        path += c;
    }
    return path;
}

const web_files::file* web_files::find(std::string_view target) const
{
    const std::string path = decoded_path(target);
    if (path.empty())
        return nullptr;
    const auto it = files_.find(relative_name(path));
    return it == files_.end() ? nullptr : &it->second;
}

// Links are followed while they lead to a place under the root, at most most_depth folders deep.
std::unique_ptr<web_files> web_files::load(const std::string& root, std::string& why, std::size_t most_bytes)
{
    std::error_code ec;
    const fs::path real_root = fs::canonical(root, ec);
    if (ec || !fs::is_directory(real_root, ec)) {
        why = "web_root " + root + " is no folder";
        return nullptr;
    }
    auto files = std::make_unique<web_files>();
    const std::string base = real_root.string();
    std::size_t total = 0;
    const auto options =
        fs::directory_options::follow_directory_symlink | fs::directory_options::skip_permission_denied;
    auto it = fs::recursive_directory_iterator(real_root, options, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path real = fs::canonical(it->path(), ec);
        if (ec || !inside(real, base)) { // broken, or leads out of the root
            ec.clear();
            it.disable_recursion_pending();
            continue;
        }
        if (fs::is_directory(real, ec)) {
            if (it.depth() >= most_depth) // a link back up would go on for ever
                it.disable_recursion_pending();
            continue;
        }
        if (!fs::is_regular_file(real, ec))
            continue;
        std::ifstream in(real, std::ios::binary);
        std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        total += body.size();
        if (total > most_bytes) {
            why = "web_root " + root + " holds more than " + std::to_string(most_bytes >> 20) + " MiB";
            return nullptr;
        }
        const std::string name = it->path().lexically_relative(real_root).generic_string();
        files->files_[name] = file{std::move(body), content_type(name)};
    }
    if (ec) {
        why = "cannot read web_root " + root + ": " + ec.message();
        return nullptr;
    }
    return files;
}

std::string default_web_root(const std::string& fallback)
{
    std::error_code ec;
    const fs::path program = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path installed = program.parent_path().parent_path() / "share/quillspeak/web";
        if (fs::is_directory(installed, ec))
            return installed.string();
    }
    return fallback;
}

} // namespace qs
