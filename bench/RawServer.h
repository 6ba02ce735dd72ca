#pragma once

// The reference server: the least a server can do with the same framing, on plain blocking
// sockets with one thread per connection, as the engine has. It answers CONNECT, OpenFile,
// ReadFile, WriteFile and CloseFile as the engine does (no log, no settings, no Qt), and two
// requests of its own for raw streaming without framing: "StreamOut" (total, piece) sends total
// bytes in sends of piece bytes, "StreamIn" (total, piece) takes total bytes and answers "OK".
// Any other request ends the connection.
//
// It runs as a child process of the bench (`vorel_bench --raw-server`), so that its memory and
// threads are its own: it prints "PORT <n>" on standard output once it listens on loopback, and
// ends when its standard input closes or on SIGTERM.
class RawServer
{
public:
    static int run();
};
