// What the engine reads from a URL: its origin, whether a file lies in a
// record's own directory on its own server (a name that climbs out of it, even
// encoded, does not), which redirects are followed, and how a server's texts
// are shown.
#include <gtest/gtest.h>

#include <string>

#include "network/url_text.h"

namespace {

using sigtrove::engine::is_http_url;
using sigtrove::engine::printable_text;
using sigtrove::engine::redirect_allowed;
using sigtrove::engine::url_origin;
using sigtrove::engine::url_within_directory;

TEST(IsHttpUrl, IsAnHttpOrHttpsSchemeInAnyCase) {
    for (const char *url : {"http://h/db/100", "https://h/100", "HTTP://h/100", "Https://h/100"})
        EXPECT_TRUE(is_http_url(url)) << url;
    for (const char *name : {"", "http:/h/100", "ftp://h/100", "file:///etc/x", "db/http://h", "httpx://h/100"})
        EXPECT_FALSE(is_http_url(name)) << name;
}

TEST(UrlOrigin, IsSchemeHostAndPortLowerCasedWithTheDefaultPort) {
    struct Case {
        const char *url;
        const char *scheme, *host;
        int port;
    };
    for (const Case &c : {Case{"http://Example.org/db/100", "http", "example.org", 80},
                          Case{"HTTPS://example.org:8443", "https", "example.org", 8443},
                          Case{"https://user:pw@example.org/x", "https", "example.org", 443},
                          Case{"http://[::1]:8080/x", "http", "[::1]", 8080}}) {
        auto origin = url_origin(c.url);
        ASSERT_TRUE(origin) << c.url;
        EXPECT_EQ(origin->scheme, c.scheme) << c.url;
        EXPECT_EQ(origin->host, c.host) << c.url;
        EXPECT_EQ(origin->port, c.port) << c.url;
    }
    for (const char *url : {"ftp://example.org/x", "http:///x", "http://h:99999/", "http://h:8x/", "file:///etc"})
        EXPECT_FALSE(url_origin(url)) << url;
}

TEST(UrlWithinDirectory, OnlyFilesInTheDirectoryOnItsOwnOriginAre) {
    const std::string dir = "http://h:8000/db/1.0";
    struct Case {
        std::string url;
        bool within;
    };
    for (const Case &c : {
             Case{dir + "/100.dat", true},
             Case{dir + "/sub/3000003.dat", true},
             Case{"HTTP://H:8000/db/1.0/100.dat", true},
             Case{"http://user:pw@h:8000/db/1.0/100.dat", true},
             Case{"http://other:8000/db/1.0/100.dat", false},
             Case{"http://h:8001/db/1.0/100.dat", false},
             Case{"https://h:8000/db/1.0/100.dat", false},
             Case{"http://h:8000/db/other/100.dat", false},
             Case{"http://h:8000/db/1.0x/100.dat", false},
             Case{dir, false},
             Case{dir + "/", false},
             Case{dir + "/../secret", false},
             Case{dir + "/./100.dat", false},
             Case{dir + "//100.dat", false},
             Case{dir + "/%2e%2e/secret", false},
             Case{dir + "/%2E./secret", false},
             Case{dir + "/a%2fb", false},
             Case{dir + "/a%5C..%5Cb", false},
             Case{dir + "/a\\..\\b", false},
             Case{dir + "/100.dat?x=1", false},
             Case{dir + "/100.dat#x", false},
         })
        EXPECT_EQ(url_within_directory(c.url, dir), c.within) << c.url;
}

TEST(RedirectAllowed, SameHostBySameSchemeAndPortOrAnUpgrade) {
    struct Case {
        const char *from, *to;
        bool allowed;
    };
    for (const Case &c :
         {Case{"http://h/db/100", "http://h/moved/100", true}, Case{"http://h/db/100", "https://h/db/100", true},
          Case{"http://h:8000/db/100", "https://h:8443/db/100", true},
          Case{"https://h/db/100", "http://h/db/100", false}, Case{"http://h/db/100", "http://other/db/100", false},
          Case{"http://h/db/100", "http://h:8080/db/100", false},
          Case{"http://127.0.0.1/db/100", "http://localhost/db/100", false},
          Case{"http://h/db/100", "ftp://h/db/100", false}, Case{"http://h/db/100", "file:///etc/passwd", false}})
        EXPECT_EQ(redirect_allowed(c.from, c.to), c.allowed) << c.from << " -> " << c.to;
}

TEST(PrintableText, EscapesEveryByteAServerCouldUseOnATerminal) {
    EXPECT_EQ(printable_text("Not Found"), "Not Found");
    EXPECT_EQ(printable_text("a\x1b]2;owned\x07z"), "a\\x1b]2;owned\\x07z");
    EXPECT_EQ(printable_text(std::string("\x9b\xff\0", 3)), "\\x9b\\xff\\x00");
    EXPECT_EQ(printable_text(std::string(300, 'x'), 10), std::string(10, 'x') + "...");
}

}  // namespace
