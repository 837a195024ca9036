// The known_hosts check over real files: keys made by libssh at run time, hashed names made with
// our own HMAC, files in a folder whose name lies outside every ANSI code page.

#include "ssh/known_hosts.h"

#include "common/text.h"
#include "common/base64.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "ssh/crypto.h"
#include "ssh/library.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace tavrin::ssh {
namespace {

using Result = KnownHostsOutcome::Result;
namespace fs = std::filesystem;

KeyPtr Generate(ssh_keytypes_e type) {
    ssh_key raw = nullptr;
    EXPECT_EQ(ssh_pki_generate_key(type, nullptr, &raw), SSH_OK);
    return KeyPtr(raw);
}

// "type base64" as a known_hosts line holds it.
std::string PublicText(ssh_key key) {
    char* raw = nullptr;
    EXPECT_EQ(ssh_pki_export_pubkey_base64(key, &raw), SSH_OK);
    const LibsshText encoded(raw);
    return std::string(ssh_key_type_to_char(ssh_key_type(key))) + " " + (encoded ? encoded.get() : "");
}

// "|1|salt|hash" for `name`; the salt holds every kind of byte.
std::string Hashed(const std::string& name) {
    const std::string salt("\x81\x8D\x8F\x90\x9D\x00\xFF\x80\x7F\x01salt-bytes", 20);
    return "|1|" + EncodeBase64(salt) + "|" + EncodeBase64(crypto::Hmac(crypto::Digest::Sha1, salt, name));
}

struct FileSpec {
    enum class Kind { Text, Missing, Folder } kind = Kind::Text;
    std::string text;  // with {A} {B} {C} for keys and {H:name} for a hashed name
};
FileSpec Text(std::string text) { return {FileSpec::Kind::Text, std::move(text)}; }
const FileSpec kMissing{FileSpec::Kind::Missing, {}};
const FileSpec kFolder{FileSpec::Kind::Folder, {}};

struct Row {
    const char* name;
    std::vector<FileSpec> files;
    const char* host;
    int port;
    char serverKey;  // 'A' or 'C'
    Result result;
    int file;  // index of the deciding file, -1 for none
    std::size_t line;
};

const Row kRows[] = {
    // Plain names, several keys, key types
    {"plain match", {Text("server.example {A}\n")}, "server.example", 22, 'A', Result::Matches, 0, 1},
    {"other key", {Text("server.example {B}\n")}, "server.example", 22, 'A', Result::Changed, 0, 1},
    {"other key type", {Text("server.example {C}\n")}, "server.example", 22, 'A', Result::Changed, 0, 1},
    {"ecdsa server key", {Text("server.example {A}\nserver.example {C}\n")}, "server.example", 22, 'C',
     Result::Matches, 0, 2},
    {"several keys, one matches", {Text("server.example {B}\nserver.example {C}\nserver.example {A}\n")},
     "server.example", 22, 'A', Result::Matches, 0, 3},
    {"other host only", {Text("other.example {B}\n")}, "server.example", 22, 'A', Result::NotRecorded, -1, 0},
    {"name in a list, any case", {Text("10.0.0.1,SERVER.example {A}")}, "Server.EXAMPLE", 22, 'A',
     Result::Matches, 0, 1},
    {"prefix of the name is not the name", {Text("server.ex {B}\nserver.examples {B}\n")}, "server.example", 22,
     'A', Result::NotRecorded, -1, 0},
    // Ports
    {"port entry does not name port 22", {Text("[server.example]:2222 {B}\n")}, "server.example", 22, 'A',
     Result::NotRecorded, -1, 0},
    {"plain name does not name port 2222", {Text("server.example {B}\n[server.example]:2222 {A}\n")},
     "server.example", 2222, 'A', Result::Matches, 0, 2},
    {"other port only", {Text("[server.example]:2223 {B}\n")}, "server.example", 2222, 'A', Result::NotRecorded,
     -1, 0},
    {"[host]:22 names port 22", {Text("[server.example]:22 {B}\n")}, "server.example", 22, 'A', Result::Changed,
     0, 1},
    // Hashed names
    {"hashed match", {Text("{H:server.example} {A}\n")}, "server.example", 22, 'A', Result::Matches, 0, 1},
    {"hashed other key", {Text("{H:server.example} {B}\n")}, "server.example", 22, 'A', Result::Changed, 0, 1},
    {"hashed other host", {Text("{H:other.example} {B}\n")}, "server.example", 22, 'A', Result::NotRecorded, -1, 0},
    {"hashed with port", {Text("{H:server.example} {B}\n{H:[server.example]:2222} {A}\n")}, "server.example", 2222,
     'A', Result::Matches, 0, 2},
    {"hashed name looked up in lower case", {Text("{H:server.example} {B}\n")}, "SERVER.Example", 22, 'A',
     Result::Changed, 0, 1},
    // Patterns
    {"star", {Text("*.example {B}\n")}, "server.example", 22, 'A', Result::Changed, 0, 1},
    {"question mark", {Text("serv?r.example {A}\n")}, "server.example", 22, 'A', Result::Matches, 0, 1},
    {"question mark needs a character", {Text("server.example? {B}\n")}, "server.example", 22, 'A',
     Result::NotRecorded, -1, 0},
    {"several stars", {Text("s*r*.e*e {B}\n")}, "server.example", 22, 'A', Result::Changed, 0, 1},
    {"negation excludes the line", {Text("*.example,!server.example {B}\n!server.example,* {B}\n")},
     "server.example", 22, 'A', Result::NotRecorded, -1, 0},
    {"negation of another host", {Text("*.example,!other.example {B}\n")}, "server.example", 22, 'A',
     Result::Changed, 0, 1},
    {"star names a port entry", {Text("* {B}\n")}, "server.example", 2222, 'A', Result::Changed, 0, 1},
    {"pattern with port", {Text("[*.example]:2222 {A}\n")}, "server.example", 2222, 'A', Result::Matches, 0, 1},
    // Markers
    {"revoked key", {Text("server.example {A}\n@revoked server.example {A}\n")}, "server.example", 22, 'A',
     Result::Revoked, 0, 2},
    {"revoked for every host", {Text("@revoked * {A}\n")}, "server.example", 22, 'A', Result::Revoked, 0, 1},
    {"revoked other key", {Text("@revoked * {B}\nserver.example {A}\n")}, "server.example", 22, 'A',
     Result::Matches, 0, 2},
    {"revoked other key only", {Text("@revoked server.example {B}\n")}, "server.example", 22, 'A',
     Result::NotRecorded, -1, 0},
    {"unknown marker", {Text("@trusted server.example {A}\n")}, "server.example", 22, 'A', Result::Damaged, 0, 1},
    // Certificate authorities: no host certificate is ever verified, so a host that only CA lines
    // cover is refused, and a plain line for it decides as if the CA lines were not there.
    {"cert-authority only, even with the server's key", {Text("@cert-authority *.example {A}\n")},
     "server.example", 22, 'A', Result::CertificateAuthorityOnly, 0, 1},
    {"cert-authority only, first such line named",
     {Text("other.example {A}\n# CA\n@cert-authority server.example {B}\n@cert-authority * {A}\n")},
     "server.example", 22, 'A', Result::CertificateAuthorityOnly, 0, 3},
    {"cert-authority and a plain match", {Text("@cert-authority server.example {B}\nserver.example {A}\n")},
     "server.example", 22, 'A', Result::Matches, 0, 2},
    {"cert-authority and a plain line with another key",
     {Text("@cert-authority server.example {A}\nserver.example {B}\n")}, "server.example", 22, 'A',
     Result::Changed, 0, 2},
    {"cert-authority for other hosts",
     {Text("@cert-authority other.example {A}\n@cert-authority *.example,!server.example {A}\n"
           "@cert-authority {H:other.example} {A}\n@cert-authority [server.example]:2222 {A}\n")},
     "server.example", 22, 'A', Result::NotRecorded, -1, 0},
    {"hashed cert-authority", {Text("other.example {B}\n@cert-authority {H:server.example} {B}\n")},
     "server.example", 22, 'A', Result::CertificateAuthorityOnly, 0, 2},
    {"cert-authority with port", {Text("@cert-authority server.example {B}\n@cert-authority [*.example]:2222 {B}\n")},
     "server.example", 2222, 'A', Result::CertificateAuthorityOnly, 0, 2},
    {"hashed cert-authority with port", {Text("@cert-authority {H:[server.example]:2222} {B}\n")},
     "server.example", 2222, 'A', Result::CertificateAuthorityOnly, 0, 1},
    {"damaged cert-authority line", {Text("@cert-authority server.example ssh-ed25519 AAAA!!!!\n")},
     "server.example", 22, 'A', Result::Damaged, 0, 1},
    {"damaged cert-authority line beats a match", {Text("server.example {A}\n@cert-authority * ssh-unknown x\n")},
     "server.example", 22, 'A', Result::Damaged, 0, 2},
    {"damaged cert-authority line of another host",
     {Text("@cert-authority other.example ssh-unknown x\n@cert-authority server.example {B}\n")}, "server.example",
     22, 'A', Result::CertificateAuthorityOnly, 0, 2},
    {"revoked beats cert-authority", {Text("@cert-authority * {B}\n@revoked server.example {A}\n")},
     "server.example", 22, 'A', Result::Revoked, 0, 2},
    {"cert-authority despite a revoked other key", {Text("@revoked * {B}\n@cert-authority * {B}\n")},
     "server.example", 22, 'A', Result::CertificateAuthorityOnly, 0, 2},
    // Damaged lines
    {"bad Base64", {Text("server.example {A}\nserver.example ssh-ed25519 AAAA!!!!\n")}, "server.example", 22, 'A',
     Result::Damaged, 0, 2},
    {"truncated key", {Text("server.example ssh-ed25519 AAAAC3NzaC1lZDI1NTE5\n")}, "server.example", 22, 'A',
     Result::Damaged, 0, 1},
    {"unknown key type", {Text("server.example ssh-unknown AAAAC3NzaC1lZDI1NTE5\nserver.example {A}\n")},
     "server.example", 22, 'A', Result::Damaged, 0, 1},
    {"missing key", {Text("server.example {A}\nserver.example ssh-ed25519\n")}, "server.example", 22, 'A',
     Result::Damaged, 0, 2},
    {"missing key type", {Text("server.example\n")}, "server.example", 22, 'A', Result::Damaged, 0, 1},
    {"key of another type than named", {Text("server.example ssh-ed25519 {C64}\n")}, "server.example", 22, 'A',
     Result::Damaged, 0, 1},
    {"malformed hashed name", {Text("|1|c2FsdA==|aGFzaA== {B}\n")}, "server.example", 22, 'A', Result::Damaged, 0,
     1},
    {"hashed name of another kind", {Text("|2|{H:server.example} {A}\n")}, "server.example", 22, 'A',
     Result::Damaged, 0, 1},
    {"marker without a host", {Text("@revoked\n")}, "server.example", 22, 'A', Result::Damaged, 0, 1},
    {"damaged line of other hosts", {Text("other.example ssh-ed25519 AAAA!!!!\n!server.example,* ssh-unknown x\n"
                                          "other.example\nserver.example {A}\n")},
     "server.example", 22, 'A', Result::Matches, 0, 4},
    {"revoked beats an earlier damaged line", {Text("server.example ssh-unknown x\n@revoked * {A}\n")},
     "server.example", 22, 'A', Result::Revoked, 0, 2},
    // Text form
    {"CRLF and BOM", {Text("\xEF\xBB\xBFother.example {B}\r\nserver.example {A}\r\n")}, "server.example", 22, 'A',
     Result::Matches, 0, 2},
    {"comments, blank lines, trailing comment",
     {Text("# server.example {B}\n\n   \n\t# x\n  server.example\t{A} root@server\n")}, "server.example", 22, 'A',
     Result::Matches, 0, 5},
    {"last line without a line end", {Text("other.example {A}\nserver.example {B}")}, "server.example", 22, 'A',
     Result::Changed, 0, 2},
    {"empty file", {Text("")}, "server.example", 22, 'A', Result::NotRecorded, -1, 0},
    // Several files
    {"change in the second file beats a match", {Text("server.example {A}\n"), Text("server.example {B}\n")},
     "server.example", 22, 'A', Result::Changed, 1, 1},
    {"revocation in the second file", {Text("server.example {A}\n"), Text("# all\n@revoked * {A}\n")},
     "server.example", 22, 'A', Result::Revoked, 1, 2},
    {"match in the second file", {Text("other.example {B}\n"), Text("server.example {A}\n")}, "server.example",
     22, 'A', Result::Matches, 1, 1},
    {"missing file is skipped", {kMissing, Text("server.example {A}\n")}, "server.example", 22, 'A',
     Result::Matches, 1, 1},
    {"no file at all", {kMissing, kMissing}, "server.example", 22, 'A', Result::NotRecorded, -1, 0},
    {"folder in place of the file", {Text("server.example {A}\n"), kFolder}, "server.example", 22, 'A',
     Result::Unreadable, 1, 0},
    {"cert-authority in one file, match in the next", {Text("@cert-authority * {B}\n"), Text("server.example {A}\n")},
     "server.example", 22, 'A', Result::Matches, 1, 1},
    {"match in one file, cert-authority in the next", {Text("server.example {A}\n"), Text("@cert-authority * {B}\n")},
     "server.example", 22, 'A', Result::Matches, 0, 1},
    {"cert-authority in one file, change in the next",
     {Text("@cert-authority * {A}\n"), Text("server.example {B}\n")}, "server.example", 22, 'A', Result::Changed, 1,
     1},
    {"cert-authority in two files, the first named",
     {kMissing, Text("other.example {A}\n"), Text("@cert-authority *.example {B}\n"),
      Text("@cert-authority server.example {A}\n")},
     "server.example", 22, 'A', Result::CertificateAuthorityOnly, 2, 1},
    {"cert-authority and an unreadable file", {Text("@cert-authority * {B}\n"), kFolder}, "server.example", 22, 'A',
     Result::Unreadable, 1, 0},
};

class KnownHostsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library_ = std::make_unique<LibraryUse>();
        keyA_ = Generate(SSH_KEYTYPE_ED25519);
        keyB_ = Generate(SSH_KEYTYPE_ED25519);
        keyC_ = Generate(SSH_KEYTYPE_ECDSA_P256);
        std::random_device random;
        folder_ = fs::temp_directory_path() / ("tavrin-known-hosts-" + std::to_string(random())) /
                  fs::path(u"\u0141ukasz_\u65E5\u672C");
        fs::create_directories(folder_);
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(folder_.parent_path(), ignored);
        keyA_.reset();
        keyB_.reset();
        keyC_.reset();
        library_.reset();
    }

    static std::string Expand(std::string text) {
        const std::string c = PublicText(keyC_.get());
        const std::pair<std::string, std::string> keys[] = {{"{A}", PublicText(keyA_.get())},
                                                            {"{B}", PublicText(keyB_.get())},
                                                            {"{C}", c},
                                                            {"{C64}", c.substr(c.find(' ') + 1)}};
        for (const auto& [from, to] : keys) {
            for (std::size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
        }
        for (std::size_t at; (at = text.find("{H:")) != std::string::npos;) {
            const std::size_t end = text.find('}', at);
            const std::string hashed = Hashed(text.substr(at + 3, end - at - 3));
            // "|2|{H:...}" keeps the salt and hash but names another hash kind.
            const bool kindGiven = at >= 3 && text.compare(at - 3, 3, "|2|") == 0;
            text.replace(at, end + 1 - at, kindGiven ? hashed.substr(3) : hashed);
        }
        return text;
    }

    static inline std::unique_ptr<LibraryUse> library_;
    static inline KeyPtr keyA_, keyB_, keyC_;
    static inline fs::path folder_;
};

TEST_F(KnownHostsTest, DecidesByTheLinesThatNameTheHost) {
    int rowNumber = 0;
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        std::vector<std::u16string> paths;
        for (std::size_t i = 0; i < row.files.size(); ++i) {
            const fs::path path = folder_ / ("row" + std::to_string(rowNumber) + "-" + std::to_string(i));
            if (row.files[i].kind == FileSpec::Kind::Text) {
                std::ofstream(path, std::ios::binary) << Expand(row.files[i].text);
            } else if (row.files[i].kind == FileSpec::Kind::Folder) {
                fs::create_directory(path);
            }
            paths.push_back(path.u16string());
        }
        ++rowNumber;
        const ssh_key server = row.serverKey == 'C' ? keyC_.get() : keyA_.get();
        const KnownHostsOutcome outcome = CheckKnownHostsFiles(ReadKnownHostsFiles(paths), row.host, row.port, server);
        EXPECT_EQ(outcome.result, row.result);
        EXPECT_EQ(outcome.line, row.line);
        EXPECT_EQ(outcome.file, row.file < 0 ? std::u16string() : paths[static_cast<std::size_t>(row.file)]);
        const bool explained = row.result == Result::Damaged || row.result == Result::Unreadable;
        EXPECT_EQ(!outcome.detail.empty(), explained) << ToUtf8(outcome.detail);
    }
}

// The key types asked for first come from plain lines only: a CA key or a revoked one is not a
// key the server should show.
TEST_F(KnownHostsTest, RecordsKeyTypesOfPlainLinesOnly) {
    const std::string ed25519 = "ssh-ed25519";
    const std::string ecdsa = "ecdsa-sha2-nistp256";
    const struct {
        const char* name;
        const char* text;
        int port;
        std::vector<std::string> types;
    } cases[] = {
        {"cert-authority and revoked lines", "@cert-authority server.example {C}\nserver.example {A}\n"
                                              "@revoked server.example {C}\n", 22, {ed25519}},
        {"cert-authority only", "@cert-authority * {C}\n@cert-authority {H:server.example} {A}\n", 22, {}},
        {"in file order, each once", "{H:server.example} {C}\nother.example ssh-rsa x\nserver.example {A}\n"
                                     "*.example {B}\n", 22, {ecdsa, ed25519}},
        {"by port", "server.example {A}\n@cert-authority [server.example]:2222 {A}\n[server.example]:2222 {C}\n",
         2222, {ecdsa}},
    };
    int caseNumber = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = folder_ / ("types" + std::to_string(caseNumber++));
        std::ofstream(path, std::ios::binary) << Expand(c.text);
        EXPECT_EQ(RecordedKeyTypes(ReadKnownHostsFiles({path.u16string()}), "server.example", c.port), c.types);
    }
}

// OpenSSH's default files: the account's, then the machine's, each followed by its second file.
TEST(DefaultKnownHostsFilesTest, AccountThenMachineEachWithItsSecondFile) {
    const std::u16string separator(1, platform::kPathSeparator);
    const auto folderOf = [&](const std::u16string& path) { return path.substr(0, path.rfind(separator)); };
    const auto nameOf = [&](const std::u16string& path) { return path.substr(path.rfind(separator) + 1); };
    const std::vector<std::u16string> files = DefaultKnownHostsFiles();
    ASSERT_FALSE(platform::UserHomeFolder().empty());
    ASSERT_EQ(files.size(), 4u);
    const std::u16string names[] = {u"known_hosts", u"known_hosts2", u"ssh_known_hosts", u"ssh_known_hosts2"};
    for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(nameOf(files[i]), names[i]) << ToUtf8(files[i]);
    EXPECT_EQ(folderOf(files[0]), folderOf(files[1]));
    EXPECT_EQ(nameOf(folderOf(files[0])), u".ssh");
    EXPECT_EQ(folderOf(files[2]), folderOf(files[3]));
    std::u16string machine = platform::MachineSshFolder();
    if (machine.ends_with(separator)) machine.pop_back();
    EXPECT_EQ(folderOf(files[2]), machine);
}

}  // namespace
}  // namespace tavrin::ssh
