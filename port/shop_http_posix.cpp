// The shop's HTTP(S) client on Linux: cpp-httplib over OpenSSL, the
// system's certificates (or the one shop.conf names) checking the shop's.
#include <httplib.h>

#include "platform/shop_outbox.hpp"

namespace torvela {

namespace {

class posix_http_client final : public http_client {
public:
    http_reply send(const shop_address& shop, const std::string& method, const std::string& path,
                    const std::string& content_type, std::string_view body, int timeout_ms) override {
        http_reply reply;
        if (timeout_ms <= 0) {
            reply.error = "no time was left to ask the shop";
            return reply;
        }
        httplib::Client client(shop.url);
        if (!client.is_valid()) {
            reply.error = shop.url + " is no address this bench can reach";
            return reply;
        }
        const time_t sec = timeout_ms / 1000;
        const time_t usec = static_cast<time_t>(timeout_ms % 1000) * 1000;
        client.set_connection_timeout(sec, usec);
        client.set_read_timeout(sec, usec);
        client.set_write_timeout(sec, usec);
        client.set_bearer_token_auth(shop.token);
        client.set_keep_alive(false);
        if (shop.url.rfind("https://", 0) == 0) {
            client.enable_server_certificate_verification(true);
            if (!shop.ca.empty()) client.set_ca_cert_path(shop.ca);
        }
        httplib::Result res = method == "GET"    ? client.Get(path)
                              : method == "PUT"  ? client.Put(path, body.data(), body.size(), content_type)
                                                 : client.Post(path, body.data(), body.size(), content_type);
        if (!res) {
            reply.error = shop.url + ": " + httplib::to_string(res.error());
            return reply;
        }
        reply.status = res->status;
        reply.body = res->body;
        return reply;
    }
};

}  // namespace

std::unique_ptr<http_client> make_http_client() { return std::make_unique<posix_http_client>(); }

}  // namespace torvela
