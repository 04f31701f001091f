#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"
#include "update/service_config.h"
#include "update/update_context.h"

/// The user name and password a fetcher answers a Digest challenge with. An empty password means
/// no authentication.
struct Credentials {
  std::string userName;
  std::string password;
};

/// The fetchers of the current batch that have not finished yet; guarded by DownloadLock.
extern int PendingDownloads;

/// The lock of the current batch, a mutex named "MutexName"; closed when the batch is done.
extern HANDLE DownloadLock;

/// Starts a batch: one fetcher per name, 500 ms apart, on threads of their own (started by the
/// context's startThread), each with its own copy of `context` (its temporary directory, the user
/// name and password of its settings, its service). Returns at once. A fetcher that cannot be
/// started counts as a friend whose download failed; without the launcher thread the batch is
/// done at once.
void StartFeedDownloads(const std::vector<std::string>& friendNames, const UpdateContext& context);

/// True once every fetcher of the batch has finished; it then closes the batch's lock, so the
/// caller asks no more for this batch.
bool FeedDownloadsDone();

/// Sets PendingDownloads to 0 (under the batch's lock while there is one).
void ResetPendingDownloads();

/// The launcher thread of a batch: starts a fetcher per name, sleeping 500 ms after each start.
int LaunchFeedFetchers(std::vector<std::string> friendNames, UpdateContext context);

/// Downloads one friend's feed from the context's service into the file of that name in the
/// context's temporary directory, answering a Digest challenge with the context's user name when
/// its password is set; then counts itself done.
int FeedFetcher(std::string name, const UpdateContext& context);

/// `length` characters drawn from the system's random source: digits, upper-case letters and "a"
/// to "y". Safe to call from many threads at once. An empty text when the source fails.
std::string MakeClientNonce(int length);

/// The feed address of `name` at `service`: http://<users host>/NAME/data/rss for names starting
/// with "_" or "-", else http://NAME.<journal domain>/data/rss with every "_" made "-";
/// "?auth=digest" appended when `authenticated`.
std::string FeedUrl(const ServiceConfig& service, const std::string& name, bool authenticated);

/// The Authorization line answering a Digest challenge of `realm` and `nonce` for the fixed URI
/// "/data/rss?auth=digest", with client nonce `cnonce`.
std::string DigestAuthorizationLine(const Credentials& credentials, const std::string& realm,
                                    const std::string& nonce, const std::string& cnonce);
