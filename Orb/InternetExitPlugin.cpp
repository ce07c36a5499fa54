// The plug-in's own translation unit. The library's code comes from the static libraries that
// the build links whole into the shared object; the agent calls the exported factories.
namespace OrbInternetExit {
// The plug-in's version, readable by the loading agent.
extern const char* const kPluginVersion;
const char* const kPluginVersion = "0.1.0";
}  // namespace OrbInternetExit
