// The StatusCode NavigateError carries for each failure WebKit reports for a top-level load:
// the nearest INET_E_* Windows gives, or S_OK for the ends of a load that are no failure.
#include "backends/webkit/LoadFailure.h"

#include <urlmon.h>

#include <gtest/gtest.h>

using velmora::platform::StatusOfLoadFailure;

// A named code, a whole domain, a code or a domain no entry names, and no error at all.
TEST(LoadFailure, StatusIsTheNearestWindowsGives) {
    const struct {
        GQuark domain;
        int code;
        HRESULT status;
    } cases[] = {
        {G_IO_ERROR, G_IO_ERROR_CANCELLED, S_OK},
        {G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, INET_E_CANNOT_CONNECT},
        {G_IO_ERROR, G_IO_ERROR_FAILED, INET_E_DOWNLOAD_FAILURE},
        {G_RESOLVER_ERROR, G_RESOLVER_ERROR_TEMPORARY_FAILURE, INET_E_RESOURCE_NOT_FOUND},
        {G_TLS_ERROR, G_TLS_ERROR_BAD_CERTIFICATE, INET_E_INVALID_CERTIFICATE},
        {WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_TRANSPORT, INET_E_DOWNLOAD_FAILURE},
        {WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE, S_OK},
        {G_FILE_ERROR, G_FILE_ERROR_NOENT, INET_E_DOWNLOAD_FAILURE},
    };
    for (const auto& c : cases) {
        g_autoptr(GError) error = g_error_new_literal(c.domain, c.code, "failure");
        SCOPED_TRACE(std::string(g_quark_to_string(c.domain)) + " " + std::to_string(c.code));
        EXPECT_EQ(StatusOfLoadFailure(error), c.status);
    }
    EXPECT_EQ(StatusOfLoadFailure(nullptr), S_OK);
}
