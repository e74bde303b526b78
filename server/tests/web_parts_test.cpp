// The web side's parts without a server: the JSON messages, origins, and the page's files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "qs/net/frame.h"
#include "qs/server/logic/web_origin.h"
#include "test_database.h"
#include "web_files.h"
#include "ws_message.h"

namespace qs::test {
namespace {

std::string why_refused(std::string_view message)
{
    const auto r = parse_ws_request(message);
    return std::holds_alternative<std::string>(r) ? std::get<std::string>(r) : "";
}

TEST(WsMessage, RequestsAreObjectsWithAnInt32IdAndAStringCmd)
{
    const auto r =
        std::get<ws_request>(parse_ws_request(R"({"cmd": "login \"ann\" pw\u00e9", "id": -2147483648, "x": 1})"));
    EXPECT_EQ(r.id, -2147483648);
    EXPECT_EQ(r.cmd, "login \"ann\" pw\xC3\xA9");
    EXPECT_EQ(std::get<ws_request>(parse_ws_request(R"({"id":2147483647,"cmd":""})")).id, 2147483647);
    EXPECT_EQ(why_refused("{"), "not JSON");
    EXPECT_EQ(why_refused("[]"), "not a JSON object");
    EXPECT_EQ(why_refused("3"), "not a JSON object");
    EXPECT_EQ(why_refused(R"({"cmd":"ver"})"), "no integer id");
    EXPECT_EQ(why_refused(R"({"id":1.0,"cmd":"ver"})"), "no integer id");
    EXPECT_EQ(why_refused(R"({"id":null,"cmd":"ver"})"), "no integer id");
    EXPECT_EQ(why_refused(R"({"id":2147483648,"cmd":"ver"})"), "id out of range");
    EXPECT_EQ(why_refused(R"({"id":-2147483649,"cmd":"ver"})"), "id out of range");
    EXPECT_EQ(why_refused(R"({"id":18446744073709551615,"cmd":"ver"})"), "id out of range");
    EXPECT_EQ(why_refused(R"({"id":1,"cmd":7})"), "cmd is not a string");
    EXPECT_EQ(why_refused(R"({"id":1})"), "cmd is not a string");
}

TEST(WsMessage, EachReplyFrameBecomesOneMessage)
{
    const std::string frames = encode_frame(-5, "Ok.") + encode_frame(70000, "say \"hi\"\n\\") + encode_frame(1, "");
    std::string_view rest = frames;
    EXPECT_EQ(next_ws_reply(rest), R"({"id":-5,"reply":"Ok."})");
    EXPECT_EQ(next_ws_reply(rest), R"({"id":70000,"reply":"say \"hi\"\n\\"})");
    EXPECT_EQ(next_ws_reply(rest), R"({"id":1,"reply":""})");
    EXPECT_TRUE(rest.empty());
}

TEST(WsMessage, InvalidUtf8BecomesReplacementCharacters)
{
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(utf8_repaired("plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
              "plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
    EXPECT_EQ(utf8_repaired("caf\xE9"), "caf" + fffd);
    EXPECT_EQ(utf8_repaired("\xC0\xAF"), fffd + fffd);                       // overlong
    EXPECT_EQ(utf8_repaired("\xED\xA0\x80"), fffd + fffd + fffd);            // a surrogate
    EXPECT_EQ(utf8_repaired("\xF4\x90\x80\x80"), fffd + fffd + fffd + fffd); // past U+10FFFF
    EXPECT_EQ(utf8_repaired("\xE2\x82"), fffd + fffd);                       // cut short
    EXPECT_EQ(utf8_repaired("\x80x"), fffd + "x");
}

TEST(WebOrigin, OriginsAreNormalizedAndLookAlikesAreForeign)
{
    EXPECT_EQ(normalized_origin("HTTPS://Chat.Example.org:443/"), "https://chat.example.org");
    EXPECT_EQ(normalized_origin("http://[::1]:7080"), "http://[::1]:7080");
    EXPECT_EQ(normalized_origin("http://h:80"), "http://h");
    for (const char* bad : {"", "null", "ftp://h", "http://", "http://h:0", "http://h:65536", "http://h/x",
                            "http://u@h", "http://h:7080.evil", "http://h h", "//h"})
        EXPECT_FALSE(normalized_origin(bad)) << bad;
    const std::vector<std::string> others{"https://chat.example.org"};
    EXPECT_TRUE(origin_allowed("http://127.0.0.1:7080", false, "127.0.0.1:7080", {}));
    EXPECT_TRUE(origin_allowed("https://host", true, "HOST:443", {}));
    EXPECT_TRUE(origin_allowed("https://chat.example.org", false, "127.0.0.1:7080", others));
    EXPECT_FALSE(origin_allowed("http://127.0.0.1:7080.evil.example", false, "127.0.0.1:7080", others));
    EXPECT_FALSE(origin_allowed("https://127.0.0.1:7080", false, "127.0.0.1:7080", others));
    EXPECT_FALSE(origin_allowed("http://127.0.0.1:7080", false, "", others));
    EXPECT_FALSE(origin_allowed("null", false, "127.0.0.1:7080", others));
}

TEST(WebOrigin, ListsAreCommaSeparatedOrigins)
{
    EXPECT_EQ(parse_origin_list(""), std::vector<std::string>{});
    EXPECT_EQ(parse_origin_list(" https://a.example , http://B:8080/"),
              (std::vector<std::string>{"https://a.example", "http://b:8080"}));
    EXPECT_FALSE(parse_origin_list("https://a.example,"));
    EXPECT_FALSE(parse_origin_list("https://a.example,*"));
}

TEST(WebFiles, TargetsFindFilesUnderTheRootOnly)
{
    namespace fs = std::filesystem;
    temp_dir dir;
    const std::string root = dir.path() + "/web";
    fs::create_directories(root + "/js/deep");
    std::ofstream(root + "/index.html") << "page";
    std::ofstream(root + "/js/app.js") << "app";
    std::ofstream(root + "/js/deep/index.html") << "deep";
    std::ofstream(dir.path() + "/secret") << "secret";
    fs::create_symlink(dir.path() + "/secret", root + "/js/out");
    fs::create_symlink(root, root + "/js/root");            // the root itself: not under it
    fs::create_symlink(root + "/js", root + "/js/deep/up"); // back up: followed a few times
    std::string why;
    const auto files = web_files::load(root, why);
    ASSERT_TRUE(files) << why;
    EXPECT_EQ(files->find("/")->body, "page");
    EXPECT_EQ(files->find("/js/app.js?v=2#x")->type, std::string("text/javascript; charset=utf-8"));
    EXPECT_EQ(files->find("/js%2Fapp.js")->body, "app");
    EXPECT_EQ(files->find("/js/deep/")->body, "deep");
    EXPECT_EQ(files->find("/js/deep/up/deep/up/app.js")->body, "app");
    for (const char* target : {"/js/out", "/js/root/index.html", "/../secret", "/js/%2e%2e/index.html", "/./index.html",
                               "/js/", "index.html", "/%zz", "/index.html%00", "/js\\app.js", ""})
        EXPECT_EQ(files->find(target), nullptr) << target;
    EXPECT_FALSE(web_files::load(dir.path() + "/none", why));
    EXPECT_FALSE(web_files::load(root, why, 5));
    EXPECT_NE(why.find("more than"), std::string::npos);
}

TEST(WebFiles, ContentTypesGoByTheEnding)
{
    EXPECT_STREQ(content_type("a.css"), "text/css; charset=utf-8");
    EXPECT_STREQ(content_type("a.svg"), "image/svg+xml");
    EXPECT_STREQ(content_type("favicon.ico"), "image/x-icon");
    EXPECT_STREQ(content_type("a.json"), "application/json");
    EXPECT_STREQ(content_type("a.js.map"), "application/octet-stream");
    EXPECT_STREQ(content_type("js"), "application/octet-stream");
}

} // namespace
} // namespace qs::test
