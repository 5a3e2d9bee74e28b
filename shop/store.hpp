// The shop's record in PostgreSQL: the benches and their tokens (as
// SHA-256 hashes only), every record a bench published, every unit a save
// kept. Records and units are added, never changed or removed.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <pqxx/pqxx>

namespace shop {

// The schema this program makes and reads.
inline constexpr int schema_version = 1;

// Who a token belongs to: a bench publishes and reads; a viewer (the
// page's sign-in) only reads.
struct member {
    std::string name;
    bool viewer = false;
};

// A new token: 32 random bytes as 64 hex digits; and the hash the shop keeps.
std::string new_token();
std::string token_hash(const std::string& token);
std::string sha256_hex(std::string_view bytes);

struct record_filter {
    std::string bench, unit, outcome, id;
    long long after = 0;  // only records stored after this sequence number
    long long limit = 10000;
};
// One stored record: the bench's object as it sent it, and the shop's own.
struct stored_record {
    long long seq = 0;
    std::string bench, received;
    std::string record;  // the JSON object the bench sent
    bool unit_held = false;
};

class store {
public:
    explicit store(std::string uri) : uri_(std::move(uri)) {}

    // Creates the schema, or brings an older one to this version. False
    // with the reason (a newer schema than this program reads is left as
    // it is).
    bool init(std::string& said);
    // The schema's version; 0 when there is none.
    int version();

    // The bench's (or viewer's) token, printed once; false when the name is taken.
    bool add_member(const std::string& name, bool viewer, std::string& token, std::string& why);
    // The name's token no longer opens the shop; its records stay.
    bool remove_member(const std::string& name, std::string& why);
    // Whose token this is, comparing every hash in constant time.
    std::optional<member> member_of(const std::string& token);

    enum class stored { added, already, conflict };
    // The record under (bench, id): added once; the same record again is
    // "already"; another under the same id is a conflict and changes nothing.
    stored add_record(const std::string& bench, const std::string& id, const std::string& record_json);
    // The unit under its SHA-256 (checked by the caller): true when added.
    bool add_unit(const std::string& sha256, const std::string& bytes, const std::string& bench);
    std::optional<std::string> unit(const std::string& sha256);
    std::vector<stored_record> records(const record_filter& f);

private:
    // This thread's connection, opened again when the server went away.
    pqxx::connection& connection();
    template <typename F>
    auto with_retry(F&& f) -> decltype(f(std::declval<pqxx::connection&>()));
    std::string uri_;
};

}  // namespace shop
