#include "tools/ServedFolder.h"

#include "tests/support/TemporaryFolder.h"

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestrel {
namespace {

// What a unit with RestrictSUIDSGID= does to openat2: ENOSYS, as its
// filter cannot read the flags.
bool RefuseOpenat2()
{
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

TEST(ServedFolder, FilesBelowTheFolderOpenAndLinksOrWaysUpDoNotWithOrWithoutOpenat2)
{
    test::TemporaryFolder top;
    const std::string served = top.Path() + "/served";
    std::filesystem::create_directories(served + "/lessons");
    std::ofstream(served + "/lessons/a.html") << "lesson";
    std::ofstream(top.Path() + "/secret") << "secret";
    std::filesystem::create_symlink(top.Path() + "/secret", served + "/link");
    std::filesystem::create_directory_symlink(top.Path(), served + "/up");
    const struct {
        const char* path;
        bool opens;
    } cases[] = {{"lessons/a.html", true}, {"link", false}, {"up/secret", false}, {"../secret", false},
        {"lessons/../../secret", false}, {"lessons", false}};
    for (const bool withoutOpenat2 : {false, true}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (withoutOpenat2 && !RefuseOpenat2())
                _exit(100);
            CServedFolder folder({"/", served});
            int wrong = 0;
            for (std::size_t i = 0; i < std::size(cases); ++i) {
                std::uint64_t size = 0;
                const int file = folder.OpenFile(cases[i].path, size);
                wrong |= ((file >= 0) != cases[i].opens || (file >= 0 && size != 6)) << i;
                if (file >= 0)
                    close(file);
            }
            _exit(wrong);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "bit i set: case i came out wrong; without openat2: " << withoutOpenat2;
    }
}

} // namespace
} // namespace kestrel
