// HTTP authentication of storage requests: Basic, Digest (MD5, qop=auth)
// and Passport1.4, with the storage server's cookies.
//
// All state is per account and taken under the account's lock, so two
// requests never share a nonce count and one server's cookies never reach
// another. The sign-in exchange itself runs without the lock.
#pragma once

#include "platform/clock.h"
#include "storage/http_answer.h"
#include "storage/http_connection.h"
#include "storage/storage_account.h"

#include <string>
#include <string_view>

namespace brindle {

inline constexpr uint32_t ERR_PASSPORT = ERR_PASSPORT_AUTH;

// With an answer (a 401): takes up a Digest challenge with algorithm MD5 and
// a qop offering "auth", saves it and writes the line for the request; a 401
// without a usable challenge drops Digest. Without an answer: the line when
// the account uses Digest. Returns the length of `line` (0: empty).
size_t DigestStep(std::string& line, std::string_view method, StorageAccount& account,
                  const HttpAnswer* answer, std::string_view path, const Clock& clock);

// With an answer (a 302 carrying a Passport1.4 challenge): signs in at the
// login server the Location names (https only) and keeps the ticket. Writes
// the ticket line when one is held. nError: 0 after a successful sign-in,
// ERR_PASSPORT or a transport code otherwise.
size_t PassportStep(std::string& line, std::string_view method, StorageAccount& account,
                    const HttpAnswer* answer, std::string_view path, uint32_t& nError,
                    const Clock& clock = SystemClock(), const HttpWake* wake = nullptr);

// After a 2xx answer of a Passport account: takes the cookies the
// Authentication-Info names from its Set-Cookie fields. Returns the length
// of the cookie line.
size_t CookieStep(const HttpAnswer& answer, StorageAccount& account);

// The authorization and cookie lines of one request.
std::string AuthorizationLines(StorageAccount& account, std::string_view method,
                               std::string_view path, const Clock& clock = SystemClock());

// After an answer: 2xx takes cookies; on the first attempt of a request a
// 302 goes to the Passport sign-in and a 401 to the Digest challenge.
// Returns true when the authentication changed so that a repeated request
// may pass. Other answers are logged as "host method response status".
bool AuthAfterAnswer(StorageAccount& account, std::string_view method, std::string_view path,
                     const HttpAnswer& answer, bool fFirstAttempt,
                     const Clock& clock = SystemClock(), const HttpWake* wake = nullptr);

} // namespace brindle
