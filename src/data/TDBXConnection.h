#pragma once

// A database connection handed to a server method as a connection value
// (data type 34). No row field is ever written for it. This system defines
// no connection of its own; descendants come with the connection factory.

namespace kds {

class TDBXConnection {
public:
    TDBXConnection(const TDBXConnection&) = delete;
    TDBXConnection& operator=(const TDBXConnection&) = delete;
    virtual ~TDBXConnection() = default;

protected:
    TDBXConnection() = default;
};

} // namespace kds
