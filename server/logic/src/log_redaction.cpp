#include "qs/server/logic/log_redaction.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

#include "qs/server/logic/command_words.h"
#include "qs/server/logic/log.h"
#include "qs/server/logic/qsexcpt.h"
#include "qs/store/db_error_text.h"
#include "qs/store/store_codes.h"

namespace qs {

namespace {

constexpr const char* hidden = "***";

std::string lowered(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// The start of the word after pos (spaces skipped).
std::size_t next_word(const std::string& line, std::size_t pos)
{
    const auto at = line.find_first_not_of(' ', pos);
    return at == std::string::npos ? line.size() : at;
}

// The end of the argument starting at pos: a quoted one runs to the first later word
// that ends with a quote, as the command parser joins them; otherwise to the next space.
std::size_t argument_end(const std::string& line, std::size_t pos)
{
    const auto space = std::min(line.find(' ', pos), line.size());
    if (pos >= line.size() || line[pos] != '"' || (space - pos > 1 && line[space - 1] == '"'))
        return space;
    for (std::size_t end = space; end < line.size();) {
        const auto word = next_word(line, end);
        end = std::min(line.find(' ', word), line.size());
        if (end > word && line[end - 1] == '"')
            return end;
    }
    return space; // unmatched: the parser leaves the words as split
}

// The keyword of a line, lowered, and where its first argument starts.
std::string keyword_of(const std::string& line, std::size_t& args_at)
{
    const auto start = next_word(line, 0);
    const auto end = std::min(line.find(' ', start), line.size());
    args_at = next_word(line, end);
    return lowered(line.substr(start, end - start));
}

// setinfo items: the value of every password or answer item becomes ***.
std::string redacted_items(const std::string& items)
{
    std::string out;
    std::size_t from = 0;
    for (;;) {
        const auto bar = std::min(items.find('|', from), items.size());
        std::string piece = items.substr(from, bar - from);
        const auto eq = piece.find('=');
        if (eq != std::string::npos) {
            std::string key = lowered(piece.substr(0, eq));
            key.erase(0, key.find_first_not_of(" \""));
            if (key == "password" || key == "answer")
                piece =
                    piece.substr(0, eq + 1) + hidden + (piece.back() == '"' && eq + 1 < piece.size() - 1 ? "\"" : "");
        }
        out += piece;
        if (bar == items.size())
            return out;
        out += '|';
        from = bar + 1;
    }
}

// A refusal sentence tells nothing secret; anything else getpassword answers might.
bool is_refusal(const std::string& reply)
{
    for (int code = 0; !qsexcpt(code).message.empty(); ++code)
        if (reply == qsexcpt(code).message)
            return true;
    return reply.rfind("You need to ", 0) == 0 || reply == "Too many or too few arguments." ||
           reply == "The command failed inside the server.";
}

} // namespace

std::string redacted_command(const std::string& line)
{
    using w = command_word;
    std::size_t args_at = 0;
    const auto word = word_named(keyword_of(line, args_at));
    if (word == w::login || word == w::newuser || word == w::getpassword) {
        const auto name_end = argument_end(line, args_at);
        return next_word(line, name_end) < line.size() ? line.substr(0, name_end) + " " + hidden : line;
    }
    if (word == w::setinfo)
        return line.substr(0, args_at) + redacted_items(line.substr(args_at));
    return line;
}

std::string redacted_reply(const std::string& line, const std::string& reply)
{
    std::size_t args_at = 0;
    return word_named(keyword_of(line, args_at)) == command_word::getpassword && !reply.empty() && !is_refusal(reply)
               ? hidden
               : reply;
}

std::string reason_of(std::exception_ptr failure)
{
    static const record_words by_code = counted_codes("code ", store_codes::first);
    try {
        std::rethrow_exception(std::move(failure));
    } catch (const qsexcpt& e) {
        return e.message;
    } catch (...) {
        return failure_text(std::current_exception(), by_code, file_check::skip); // from any thread, loops too
    }
}

void log_error_block(std::int32_t cid, const std::string& command, const std::string& result, const std::string& why)
{
    std::vector<std::string> lines{"ERROR!!!", "qsserver::cmd_proc()", "cid:\t" + std::to_string(cid),
                                   "cmd:\t" + redacted_command(command), "result:\t" + redacted_reply(command, result)};
    if (!why.empty())
        lines.push_back("why:\t" + why);
    log_lines(log_level::error, lines);
}

} // namespace qs
