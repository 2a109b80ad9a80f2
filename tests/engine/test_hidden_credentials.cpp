// No text shows the user name and password a URL carries: they are taken out of
// every URL in a text, and only out of URLs.
#include <gtest/gtest.h>

#include <string>

#include "errors/error_state.h"
#include "errors/status.h"
#include "texts/hidden_credentials.h"

namespace {

using sigtrove::engine::without_credentials;

TEST(HiddenCredentials, AreTakenOutOfEveryUrlInAText) {
    struct Case {
        const char *text, *shown;
    };
    for (const Case &c : {
             Case{"http://user:pw@h/db/100", "http://h/db/100"},
             Case{"init: can't open header for record https://u@h:8443/x (https://u:p@h:8443/x.hea: HTTP 401)\n",
                  "init: can't open header for record https://h:8443/x (https://h:8443/x.hea: HTTP 401)\n"},
             Case{"http://a:b@c@h/x", "http://h/x"},
             Case{"http://u:p@h", "http://h"},
             Case{"record 'http://u:p@h' failed", "record 'http://h' failed"},
             Case{"mail someone@example.org about http://h/x@y", "mail someone@example.org about http://h/x@y"},
             Case{"no url: user:pw@h", "no url: user:pw@h"},
             Case{"", ""},
         })
        EXPECT_EQ(without_credentials(c.text), c.shown) << c.text;
}

TEST(HiddenCredentials, NeverReachTheRecordedTextsOrAStatus) {
    sigtrove::engine::ErrorCapture capture;
    sigtrove::engine::record_error("init: can't open header for record %s\n", "http://u:s3cret@h/db/100");
    EXPECT_EQ(capture.last(), "init: can't open header for record http://h/db/100\n");
    auto status =
        sigtrove::engine::Status::failure(sigtrove::engine::ErrorKind::remote, "http://u:s3cret@h/x: HTTP 500");
    EXPECT_EQ(status.text(), "http://h/x: HTTP 500");
}

}  // namespace
