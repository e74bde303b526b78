#include <gtest/gtest.h>

#include "admin_run.h"

namespace qs::test {
namespace {

TEST(AdminCommandLineTest, HelpAndVersionExitZero)
{
    const auto help = qsadmin({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: qsadmin COMMAND [ARGUMENT]\n", 0), 0u) << help.out;
    for (const std::string option : {"--version", "-V"}) {
        const auto version = qsadmin({option});
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.out, "qsadmin (Quillspeak) 0.1\n");
    }
}

TEST(AdminCommandLineTest, AnythingElseIsAOneLineUsageErrorWithStatusTwo)
{
    const std::vector<std::vector<std::string>> wrong{
        {},
        {"bogus"},
        {"users", "x"},
        {"adduser"},
        {"group", "a", "b"},
        {"group", "--hashed", "x"},
        {"adduser", "ann", "--bogus"},
        {"backup"},
        {"--help", "x"},
    };
    for (const auto& args : wrong) {
        const auto r = qsadmin(args);
        const std::string shown = args.empty() ? "(none)" : args[0];
        EXPECT_EQ(r.status, 2) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_EQ(r.err.rfind("qsadmin: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
    EXPECT_EQ(qsadmin({"frobnicate"}).err,
              "qsadmin: unknown command 'frobnicate' (qsadmin --help lists the commands)\n");
}

} // namespace
} // namespace qs::test
