// The shop's HTTP(S) client on Windows: WinHTTP, the system's certificate
// store checking the shop's (TORVELA_SHOP_CA is not used here: a shop's own
// certificate goes into the store, certutil -addstore Root FILE).
#include <windows.h>
#include <winhttp.h>

#include <string>

#include "platform/disk_files.hpp"
#include "platform/shop_outbox.hpp"

namespace torvela {

namespace {

struct internet {
    HINTERNET h = nullptr;
    explicit internet(HINTERNET v) : h(v) {}
    ~internet() {
        if (h) WinHttpCloseHandle(h);
    }
    internet(const internet&) = delete;
    internet& operator=(const internet&) = delete;
};

std::wstring wide(const std::string& s) { return path_from_utf8(s).wstring(); }

std::string why_of(DWORD err) {
    switch (err) {
    case ERROR_WINHTTP_CANNOT_CONNECT: return "the shop cannot be reached (nothing answers there)";
    case ERROR_WINHTTP_TIMEOUT: return "the shop did not answer in time";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "the shop's name is not known here";
    case ERROR_WINHTTP_CONNECTION_ERROR: return "the connection to the shop broke off";
    case ERROR_WINHTTP_SECURE_FAILURE: return "the shop's certificate is not one Windows trusts";
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
    case ERROR_WINHTTP_INVALID_URL: return "TORVELA_SHOP is no address WinHTTP takes";
    default: return "WinHTTP error " + std::to_string(err);
    }
}

class win32_http_client final : public http_client {
public:
    http_reply send(const shop_address& shop, const std::string& method, const std::string& path,
                    const std::string& content_type, std::string_view body, int timeout_ms) override {
        http_reply reply;
        auto failed = [&](DWORD err) {
            reply.error = shop.url + ": " + why_of(err);
            return reply;
        };
        if (timeout_ms <= 0) {
            reply.error = "no time was left to ask the shop";
            return reply;
        }
        const std::wstring url = wide(shop.url);
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof parts;
        wchar_t host[256] = {};
        parts.lpszHostName = host;
        parts.dwHostNameLength = 255;
        if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return failed(GetLastError());
        internet session(WinHttpOpen(L"torvela", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
        if (!session.h) return failed(GetLastError());
        WinHttpSetTimeouts(session.h, timeout_ms, timeout_ms, timeout_ms, timeout_ms);
        internet connection(WinHttpConnect(session.h, host, parts.nPort, 0));
        if (!connection.h) return failed(GetLastError());
        const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
        internet request(WinHttpOpenRequest(connection.h, wide(method).c_str(), wide(path).c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            secure ? WINHTTP_FLAG_SECURE : 0));
        if (!request.h) return failed(GetLastError());
        std::wstring headers = L"Authorization: Bearer " + wide(shop.token) + L"\r\n";
        if (!content_type.empty()) headers += L"Content-Type: " + wide(content_type) + L"\r\n";
        const DWORD length = static_cast<DWORD>(body.size());
        if (!WinHttpSendRequest(request.h, headers.c_str(), static_cast<DWORD>(-1),
                                length ? const_cast<char*>(body.data()) : WINHTTP_NO_REQUEST_DATA, length, length, 0) ||
            !WinHttpReceiveResponse(request.h, nullptr))
            return failed(GetLastError());
        DWORD status = 0, size = sizeof status;
        if (!WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
            return failed(GetLastError());
        for (;;) {
            DWORD available = 0;
            if (!WinHttpQueryDataAvailable(request.h, &available)) return failed(GetLastError());
            if (available == 0) break;
            std::string chunk(available, '\0');
            DWORD got = 0;
            if (!WinHttpReadData(request.h, chunk.data(), available, &got)) return failed(GetLastError());
            reply.body.append(chunk.data(), got);
            if (reply.body.size() > (64u << 20)) {
                reply.body.clear();
                reply.error = shop.url + ": the shop's answer is larger than any it gives";
                return reply;
            }
        }
        reply.status = static_cast<int>(status);
        return reply;
    }
};

}  // namespace

std::unique_ptr<http_client> make_http_client() { return std::make_unique<win32_http_client>(); }

}  // namespace torvela
