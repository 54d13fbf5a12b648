// hiredis behind platform/server/redis.h. Commands go as argument vectors,
// never through a format string, so no text from a client can change one.
#include "platform/server/redis.h"

#include <hiredis/hiredis.h>
#include <sys/time.h>

namespace plat {

namespace {

redisContext* g_redis = nullptr;

void Take(const redisReply* r, RedisReply* out) {
    *out = RedisReply{};
    switch (r->type) {
    case REDIS_REPLY_INTEGER:
        out->integer = r->integer;
        break;
    case REDIS_REPLY_NIL:
        out->nil = true;
        break;
    case REDIS_REPLY_ERROR:
        out->error = true;
        out->text.assign(r->str, r->len);
        break;
    case REDIS_REPLY_STRING:
    case REDIS_REPLY_STATUS:
        out->text.assign(r->str, r->len);
        break;
    case REDIS_REPLY_ARRAY:
        for (size_t k = 0; k < r->elements; k++) {
            const redisReply* e = r->element[k];
            bool text = e->type == REDIS_REPLY_STRING || e->type == REDIS_REPLY_STATUS;
            out->items.emplace_back(text ? std::string(e->str, e->len) : std::string());
        }
        break;
    default:
        break;
    }
}

}  // namespace

bool RedisConnect(const char* host, uint16_t port, int timeoutMs) {
    RedisClose();
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    g_redis = redisConnectWithTimeout(host, port, tv);
    if (!g_redis || g_redis->err) {
        RedisClose();
        return false;
    }
    redisSetTimeout(g_redis, tv);
    return true;
}

bool RedisIsConnected() { return g_redis != nullptr; }

void RedisClose() {
    if (g_redis) redisFree(g_redis);
    g_redis = nullptr;
}

bool RedisRun(const std::vector<RedisCommand>& commands, std::vector<RedisReply>* replies) {
    replies->assign(commands.size(), RedisReply{});
    if (!g_redis) return false;
    for (const RedisCommand& c : commands) {
        std::vector<const char*> argv;
        std::vector<size_t> lengths;
        for (const std::string& a : c) argv.push_back(a.data()), lengths.push_back(a.size());
        if (redisAppendCommandArgv(g_redis, int(argv.size()), argv.data(), lengths.data()) != REDIS_OK) {
            RedisClose();
            return false;
        }
    }
    for (size_t k = 0; k < commands.size(); k++) {
        void* raw = nullptr;
        if (redisGetReply(g_redis, &raw) != REDIS_OK || !raw) {
            RedisClose();
            return false;
        }
        Take(static_cast<redisReply*>(raw), &(*replies)[k]);
        freeReplyObject(raw);
    }
    return true;
}

}  // namespace plat
