#include "httpauth.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>

#include "clicommands.h"

namespace httpauth {

namespace {

std::string Hex(const unsigned char* bytes, size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

std::string Folder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/sonvex";
    }
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] == '/' ? std::string(home) + "/.local/state/sonvex"
                                             : std::string();
}

// Makes the folder and the ones above it that are missing; the last one private.
bool MakeFolder(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0755);
    }
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

std::string TokenFile() {
    const std::string folder = Folder();
    return folder.empty() ? folder : folder + "/http-token";
}

std::string Sha256Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    return Hex(digest, length);
}

bool NewToken(std::string& token, std::string& problem) {
    const std::string file = TokenFile();
    if (file.empty()) {
        problem = "there is no folder to keep the token's hash in: set HOME or XDG_STATE_HOME";
        return false;
    }
    unsigned char bytes[24];
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        problem = "no random bytes for a token";
        return false;
    }
    token = Hex(bytes, sizeof bytes);
    const std::string folder = file.substr(0, file.rfind('/'));
    const std::string temporary = file + ".new";
    const std::string line = Sha256Hex(token) + "\n";
    const int fd = MakeFolder(folder)
                       ? ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)
                       : -1;
    const bool written =
        fd >= 0 && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    const bool kept = written && ::fsync(fd) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!kept || ::rename(temporary.c_str(), file.c_str()) != 0) {
        problem = "the token's hash could not be stored in " + file + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool StoredHash(std::string& hash) {
    const std::string file = TokenFile();
    std::ifstream in(file);
    if (file.empty() || !in || !std::getline(in, hash)) {
        return false;
    }
    return hash.size() == 64 && hash.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool Matches(const std::string& token, const std::string& hash) {
    const std::string given = Sha256Hex(token);
    if (given.size() != hash.size()) {
        return false;
    }
    unsigned char differ = 0;
    for (size_t i = 0; i < given.size(); ++i) {
        differ |= static_cast<unsigned char>(given[i] ^ hash[i]);
    }
    return differ == 0;
}

}  // namespace httpauth

namespace clicommands {

int HttpToken(const CliOptions& /*options*/, CliConsole& console) {
    std::string token;
    std::string problem;
    if (!httpauth::NewToken(token, problem)) {
        return Fail(console, problem);
    }
    console.out << token << '\n' << std::flush;
    console.err << "sonvex-cli: the HTTP API's new token; it is not shown again (its hash is in "
                << httpauth::TokenFile() << ")\n"
                << std::flush;
    return kSuccess;
}

}  // namespace clicommands
