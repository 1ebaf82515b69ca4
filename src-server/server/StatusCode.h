#pragma once

// The status codes of response and error documents: the statusCode attribute of their status
// element. Shared by the request handling, the client connection and the self test.

namespace norvale::quillmark::statusCode {

inline constexpr int OK = 2000;
inline constexpr int BAD_REQUEST = 4000;
inline constexpr int REQUEST_TOO_LARGE = 4013;
inline constexpr int SERVER_ERROR = 5000;
inline constexpr int OUT_OF_MEMORY = 5030;

}  // namespace norvale::quillmark::statusCode
