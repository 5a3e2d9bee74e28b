#include "store.hpp"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace shop {

namespace {

std::string hex(const unsigned char* p, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

// The steps from each version to the next; a database at version N runs
// the steps after N, in one transaction.
const char* const migrations[] = {
    // 1: benches, records, units.
    R"(
create table shop_members (
    name text primary key,
    viewer boolean not null default false,
    token_hash text,
    added timestamptz not null default now(),
    removed timestamptz
);
create table shop_records (
    seq bigserial unique,
    bench text not null references shop_members(name),
    id text not null,
    received timestamptz not null default now(),
    record jsonb not null,
    primary key (bench, id)
);
create index shop_records_unit on shop_records ((record->>'unit_sha256'));
create index shop_records_id on shop_records (id);
create table shop_units (
    sha256 text primary key,
    bytes bytea not null,
    bench text not null references shop_members(name),
    received timestamptz not null default now()
);
-- What the shop stored stays as it was stored.
create function shop_refuse_change() returns trigger language plpgsql as $$
begin
    raise exception 'the shop''s records and units are never changed or removed';
end $$;
create trigger shop_records_kept before update or delete on shop_records
    for each row execute function shop_refuse_change();
create trigger shop_units_kept before update or delete on shop_units
    for each row execute function shop_refuse_change();
)",
};

}  // namespace

std::string sha256_hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &n, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    return hex(digest, n);
}

std::string new_token() {
    unsigned char bytes[32];
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("the system gave no random bytes");
    return hex(bytes, sizeof bytes);
}

std::string token_hash(const std::string& token) { return sha256_hex(token); }

namespace {
// Each of the server's threads keeps a connection of its own.
thread_local std::unique_ptr<pqxx::connection> this_threads;
thread_local std::string this_threads_uri;
}  // namespace

pqxx::connection& store::connection() {
    if (!this_threads || !this_threads->is_open() || this_threads_uri != uri_) {
        this_threads.reset();
        this_threads = std::make_unique<pqxx::connection>(uri_);
        this_threads_uri = uri_;
    }
    return *this_threads;
}

template <typename F>
auto store::with_retry(F&& f) -> decltype(f(std::declval<pqxx::connection&>())) {
    // A server restarted since this thread last asked: once more on a new
    // connection. Each step is safe to run twice.
    try {
        return f(connection());
    } catch (const pqxx::broken_connection&) {
        this_threads.reset();
    }
    return f(connection());
}

int store::version() {
    return with_retry([&](pqxx::connection& c) {
        pqxx::work t(c);
        const pqxx::result exists = t.exec("select to_regclass('shop_schema') is not null");
        if (!exists[0][0].as<bool>()) return 0;
        return t.exec("select version from shop_schema")[0][0].as<int>();
    });
}

bool store::init(std::string& said) {
    return with_retry([&](pqxx::connection& c) {
        pqxx::work t(c);
        // One init at a time, however many run.
        t.exec("select pg_advisory_xact_lock(7468707)");
        t.exec("create table if not exists shop_schema (version integer not null)");
        pqxx::result v = t.exec("select version from shop_schema");
        int at = 0;
        if (v.empty()) t.exec("insert into shop_schema values (0)");
        else at = v[0][0].as<int>();
        if (at > schema_version) {
            said = "the database holds schema version " + std::to_string(at) + ", newer than this torvela-shop's " +
                   std::to_string(schema_version) + ": nothing was changed; use the newer torvela-shop";
            return false;
        }
        for (int step = at; step < schema_version; ++step) t.exec(migrations[step]);
        t.exec_params("update shop_schema set version = $1", schema_version);
        t.commit();
        said = at == schema_version ? "the schema is at version " + std::to_string(at) + " already"
               : at == 0             ? "the schema was made, version " + std::to_string(schema_version)
                                     : "the schema went from version " + std::to_string(at) + " to " +
                                           std::to_string(schema_version);
        return true;
    });
}

bool store::add_member(const std::string& name, bool viewer, std::string& token, std::string& why) {
    return with_retry([&](pqxx::connection& c) {
        pqxx::work t(c);
        token = new_token();
        const pqxx::result r = t.exec_params(
            "insert into shop_members (name, viewer, token_hash) values ($1, $2, $3) on conflict do nothing "
            "returning name",
            name, viewer, token_hash(token));
        if (r.empty()) {
            why = name + " is a name the shop knows already (its records keep it): choose another";
            token.clear();
            return false;
        }
        t.commit();
        return true;
    });
}

bool store::remove_member(const std::string& name, std::string& why) {
    return with_retry([&](pqxx::connection& c) {
        pqxx::work t(c);
        const pqxx::result r = t.exec_params(
            "update shop_members set token_hash = null, removed = now() where name = $1 and removed is null "
            "returning name",
            name);
        if (r.empty()) {
            why = "the shop has no bench " + name + " (or it was removed before)";
            return false;
        }
        t.commit();
        return true;
    });
}

std::optional<member> store::member_of(const std::string& token) {
    const std::string hash = token_hash(token);
    return with_retry([&](pqxx::connection& c) -> std::optional<member> {
        pqxx::read_transaction t(c);
        const pqxx::result r = t.exec("select name, viewer, token_hash from shop_members where token_hash is not null");
        std::optional<member> found;
        // Every hash is compared, to its end: how long it takes says nothing
        // of which hash, or how much of one, matched.
        for (const auto& row : r) {
            const std::string kept = row[2].as<std::string>();
            if (kept.size() == hash.size() && CRYPTO_memcmp(kept.data(), hash.data(), hash.size()) == 0 && !found)
                found = member{row[0].as<std::string>(), row[1].as<bool>()};
        }
        return found;
    });
}

store::stored store::add_record(const std::string& bench, const std::string& id, const std::string& record_json) {
    return with_retry([&](pqxx::connection& c) {
        pqxx::work t(c);
        const pqxx::result added = t.exec_params(
            "insert into shop_records (bench, id, record) values ($1, $2, $3::jsonb) on conflict do nothing "
            "returning seq",
            bench, id, record_json);
        if (!added.empty()) {
            t.commit();
            return stored::added;
        }
        const pqxx::result same = t.exec_params(
            "select record = $3::jsonb from shop_records where bench = $1 and id = $2", bench, id, record_json);
        return !same.empty() && same[0][0].as<bool>() ? stored::already : stored::conflict;
    });
}

bool store::add_unit(const std::string& sha256, const std::string& bytes, const std::string& bench) {
    return with_retry([&](pqxx::connection& c) {
        pqxx::work t(c);
        const pqxx::binarystring data(bytes.data(), bytes.size());
        const pqxx::result r = t.exec_params(
            "insert into shop_units (sha256, bytes, bench) values ($1, $2, $3) on conflict do nothing returning sha256",
            sha256, data, bench);
        t.commit();
        return !r.empty();
    });
}

std::optional<std::string> store::unit(const std::string& sha256) {
    return with_retry([&](pqxx::connection& c) -> std::optional<std::string> {
        pqxx::read_transaction t(c);
        const pqxx::result r = t.exec_params("select bytes from shop_units where sha256 = $1", sha256);
        if (r.empty()) return std::nullopt;
        return pqxx::binarystring(r[0][0]).str();
    });
}

std::vector<stored_record> store::records(const record_filter& f) {
    return with_retry([&](pqxx::connection& c) {
        pqxx::read_transaction t(c);
        const pqxx::result r = t.exec_params(
            "select r.seq, r.bench, to_char(r.received at time zone 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), "
            "r.record::text, u.sha256 is not null "
            "from shop_records r left join shop_units u on u.sha256 = r.record->>'kept_sha256' "
            "where ($1 = '' or r.bench = $1) and ($2 = '' or r.record->>'unit_sha256' = $2) "
            "and ($3 = '' or r.record->>'outcome' = $3) and ($4 = '' or r.id = $4) and r.seq > $5 "
            "order by r.seq limit $6",
            f.bench, f.unit, f.outcome, f.id, f.after, f.limit);
        std::vector<stored_record> out;
        for (const auto& row : r)
            out.push_back({row[0].as<long long>(), row[1].as<std::string>(), row[2].as<std::string>(),
                           row[3].as<std::string>(), row[4].as<bool>()});
        return out;
    });
}

}  // namespace shop
