// A connection to a Redis server through hiredis, for the match server's
// shared directory. Synchronous with a timeout: the commands are few and
// short, and a directory that does not answer in time counts as gone (the
// caller falls back and tries again later).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct RedisReply {
    bool error = false;  // the server refused the command (text says why)
    bool nil = false;
    long long integer = 0;
    std::string text;                // a string, status or error
    std::vector<std::string> items;  // an array's strings (nil ones empty)
};
using RedisCommand = std::vector<std::string>;

bool RedisConnect(const char* host, uint16_t port, int timeoutMs);
bool RedisIsConnected();
void RedisClose();
// Sends the commands in one go and reads their replies in order. False when
// the connection failed on the way; it is then closed.
bool RedisRun(const std::vector<RedisCommand>& commands, std::vector<RedisReply>* replies);

}  // namespace plat
