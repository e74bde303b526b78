#include "qs/server/logic/recovery_file.h"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace qs {

namespace {

const char* const column_names[] = {"messages", "groupmessages", "custommessages"};

std::string escaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool unescaped(const std::string& text, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        const char c = text[i];
        if (c != '\\' && c != 't' && c != 'r' && c != 'n')
            return false;
        out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : '\\';
    }
    return true;
}

bool parse_line(const std::string& line, recovery_entry& e)
{
    const auto tab1 = line.find('\t');
    const auto tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos)
        return false;
    const std::string column = line.substr(tab1 + 1, tab2 - tab1 - 1);
    for (e.column = 0; e.column < 3 && column != column_names[e.column]; ++e.column) {
    }
    return e.column < 3 && unescaped(line.substr(0, tab1), e.user) && unescaped(line.substr(tab2 + 1), e.entry);
}

void write_lines(const std::string& path, const std::vector<recovery_entry>& entries, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path);
    std::string text;
    for (const auto& e : entries)
        text += escaped(e.user) + "\t" + column_names[e.column] + "\t" + escaped(e.entry) + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            ::close(fd);
            throw std::runtime_error("cannot write " + path);
        }
        done += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!synced)
        throw std::runtime_error("cannot flush " + path);
}

} // namespace

void append_recovery(const std::string& path, const std::vector<recovery_entry>& entries)
{
    write_lines(path, entries, O_APPEND);
}

std::vector<recovery_entry> read_recovery(const std::string& path, std::size_t& bad_lines)
{
    std::vector<recovery_entry> entries;
    bad_lines = 0;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        recovery_entry e;
        if (parse_line(line, e))
            entries.push_back(std::move(e));
        else
            ++bad_lines;
    }
    return entries;
}

void rewrite_recovery(const std::string& path, const std::vector<recovery_entry>& entries)
{
    if (entries.empty()) {
        std::remove(path.c_str());
        return;
    }
    const std::string temporary = path + ".new";
    write_lines(temporary, entries, O_TRUNC);
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot replace " + path);
}

} // namespace qs
