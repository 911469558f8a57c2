#pragma once

#include <QString>

// Where the program keeps what it remembers between runs: every group and key
// of its settings store, in one place, so that a renamed key cannot leave
// the reader and the writer at odds.
namespace VLK {
namespace Settings {

constexpr char LoginGroup[] = "CalvaroServerLoginData";
constexpr char AddressesKey[] = "IPAddresses";
constexpr char PortKey[] = "Port";
constexpr char UserNameKey[] = "UserName";
// Whether the password goes to the desktop's keyring; never the password itself.
constexpr char RememberPasswordKey[] = "RememberPassword";

constexpr char ClientConfigGroup[] = "ClientConfig";
constexpr char CommandLineKey[] = "CommandLine";
constexpr char AutoRefreshIntervalKey[] = "AutoRefreshInterval";
// The rest of the submission form, remembered with its command line.
constexpr char SolverKey[] = "Solver";
constexpr char SlowQueueKey[] = "SlowQueue";

// The directory each file dialog last took its file from.
constexpr char RecentDirectoriesGroup[] = "RecentDirectories";
constexpr char LastZipDirectoryKey[] = "LastZipDirectory";
constexpr char LastProjectDirectoryKey[] = "LastProjectDirectory";
constexpr char LastSaveAsDirectoryKey[] = "LastSaveAsDirectory";

// The window's geometry and the job table's column widths and sort order.
constexpr char WindowStateGroup[] = "WindowState";
constexpr char GeometryKey[] = "Geometry";
constexpr char JobTableHeaderKey[] = "JobTableHeader";

// Whether the user is told when a job of theirs finishes.
constexpr char NotificationsGroup[] = "Notifications";
constexpr char NotificationsEnabledKey[] = "Enabled";

QString recentDirectory(const char *directoryKey);
void storeRecentDirectory(const char *directoryKey, const QString &directory);

} // namespace Settings
} // namespace VLK
