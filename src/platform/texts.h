// Every fixed text of Vidmora in one place: titles, messages, file names and addresses.
// Message texts are printf formats; fillText() fills them.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace vidmora::texts {

// Program and files.
inline constexpr const char* AppTitle = "Vidmora";
inline constexpr const char* EncoderFileName = "vidmora-encoder";
inline constexpr const char* PlayerFileName = "vidmora-player";
inline constexpr const char* ConfigFolderName = "vidmora";  // under the XDG config folder
inline constexpr const char* SettingsFileName = "settings.bin";
inline constexpr const char* HistoryFileName = "history.bin";
inline constexpr const char* QueueFileName = "queue.bin";  // in the state folder
// Choices kept beside the settings file, whose binary layout stays as it is.
inline constexpr const char* ChoicesFileName = "choices.txt";
inline constexpr const char* DefaultOutputSubfolder = "Vidmora";
inline constexpr const char* HelpFolderName = "help";
inline constexpr const char* HelpContentsPage = "index.html";
inline constexpr const char* SettingsSignature = "VidmoraSettings1";
inline constexpr const char* HistorySignature2 = "VidmoraHistory2";
inline constexpr const char* HistorySignature1 = "VidmoraHistory1";

// Addresses.
inline constexpr const char* HomePageUrl = "https://vidmora.org/";
inline constexpr const char* VersionUrl = "https://vidmora.org/latest-version.txt";
inline constexpr const char* DownloadUrl = "https://vidmora.org/download/";

// The sound files' extensions, written once for both lists below.
#define VIDMORA_AUDIO_EXTENSIONS "mp3 wav ogg oga opus flac m4a aac ac3 wma amr mp2 mka aiff au"
// Source files taken from drops, folders and the command line (also the first open filter).
inline constexpr const char* AcceptedExtensions =
    "avi mpg mpeg vob mp4 m4v mov qt 3gp 3g2 mkv webm ogv flv f4v wmv asf ts mts m2ts m2v rm rmvb "
    "dv divx xvid mxf nut " VIDMORA_AUDIO_EXTENSIONS
    " gif apng png m4s cmfv cmfa ismv isma mp4v 3gpp f4p m2t tsv tsa tp trp mpe mpv m1v mod tod "
    "vro "
    "evo ogm mk3d wtv dvr-ms flc fli y4m ivf h264 264 h265 265 hevc mjpeg mjpg bik amv nsv gxf swf "
    "caf aif aifc w64 rf64 wv ape mpc tta tak ra spx m4b m4r eac3 ec3 dts thd mlp mp1 mpa m1a m2a "
    "oma aa3 gsm voc awb dsf dff snd qcp xm it s3m";
// Pattern lists of the other open-file filter pairs (each a part of AcceptedExtensions).
inline constexpr const char* VideoFileExtensions =
    "avi mpg mpeg mp4 m4v mov qt 3gp 3g2 mkv webm ogv flv f4v ts mts m2ts dv divx xvid mxf nut";
inline constexpr const char* WindowsMediaExtensions = "wmv asf wma";
inline constexpr const char* DvdExtensions = "vob mpg mpeg m2v";
inline constexpr const char* AudioFileExtensions = VIDMORA_AUDIO_EXTENSIONS;
inline constexpr const char* RealMediaExtensions = "rm rmvb";
#undef VIDMORA_AUDIO_EXTENSIONS

// List and batch.
inline constexpr const char* InvalidVideo = "%s Invalid video";
inline constexpr const char* ProbeFailed = "%s could not be added: %s";
inline constexpr const char* EntryCount = "%d video(s)";
inline constexpr const char* BatchStarting = "Converting %d...";
inline constexpr const char* BatchProgress = "%d / %d  %d%%";
inline constexpr const char* BatchCaption = "Settings - %d video(s) to convert";
inline constexpr const char* RequeueQuestion =
    "No video is ready to convert. Convert the cancelled videos again?";
inline constexpr const char* BatchTooBig =
    "The videos to convert need about %s, but only %s are free in\n%s\n\nConvert anyway?";
inline constexpr const char* ShutdownQuestion =
    "The computer will be powered off when the conversions have finished. Continue?";
inline constexpr const char* StopOneQuestion = "Stop this conversion?";
inline constexpr const char* StopAllQuestion = "Stop all conversions?";
inline constexpr const char* CloseQuestion =
    "%d conversion(s) are still running. Stop them and close Vidmora?";

// Status text of a row whose remux the encoder refused (exit status ExitRemuxRefused).
inline constexpr const char* StatusRemuxRefused = "Cannot Copy: Streams Don't Fit";

// Why a file was not added or converted when the encoder could not say it itself.
inline constexpr const char* ReasonEncoderNotStarted = "The encoder %s could not be started";
inline constexpr const char* ReasonProbeTimedOut = "The encoder did not answer within %u s";
inline constexpr const char* ReasonNoProgressBlock =
    "Vidmora could not make its progress block (shared memory): %s";
inline constexpr const char* ReasonNameNotReserved = "The output file %s could not be made: %s";

// List commands.
inline constexpr const char* PlayMissing = "The video file does not exist:\n%s";
inline constexpr const char* PlayFailed = "The video could not be opened:\n%s";
inline constexpr const char* RemoveRefused = "This entry cannot be removed in its present state.";
inline constexpr const char* RemoveConfirm = "Remove the selected entry from the list?";
inline constexpr const char* DeleteConfirm = "Delete the converted video file?";
inline constexpr const char* DeleteFailed = "The file could not be deleted:\n%s";
// The same commands over several selected rows: one question naming the count.
inline constexpr const char* RemoveManyConfirm = "Remove the %d selected entries from the list?";
inline constexpr const char* DeleteManyConfirm =
    "Delete the converted video files of the %d selected entries?";
inline constexpr const char* StopManyQuestion = "Stop these %d conversions?";
// Below a question over several rows, the rows it names past the first few.
inline constexpr const char* MoreRows = "... and %d more";
// Rename: the name is taken by another file or entry, or the file could not be moved.
inline constexpr const char* RenameTaken =
    "\"%s\" is already taken in the destination folder. Choose another name.";
inline constexpr const char* RenameFailed = "The video could not be renamed:\n%s";
// A later start whose paths the running window cannot take (it has no socket).
inline constexpr const char* AlreadyRunning =
    "Vidmora is already running for this user, and the files could not be handed to its window. "
    "Add them there.";
inline constexpr const char* AddFolderTitle = "Add a Folder of Videos";
inline constexpr const char* MissingConfirm = "Remove all entries with unexisting videos ?";
inline constexpr const char* RenameCaption = "Rename Video";
inline constexpr const char* RenamePrompt = "New name of the video:";
inline constexpr const char* AddTitle = "Add Videos to Convert";
inline constexpr const char* ChooseDestinationTitle = "Choose the Destination Folder";

// Settings dialog.
inline constexpr const char* SelectDestinationFolder = "Select Destination Folder";
inline constexpr const char* CannotDisableBoth = "Cannot disable both video and audio";

// Start-up, help and about.
inline constexpr const char* StatusHelpHint = "F1 Help";
inline constexpr const char* WaitMessage = "Checking for a new version of Vidmora...";
inline constexpr const char* UpdateQuestion =
    "A new version of Vidmora is available. Open the download page?";
inline constexpr const char* BrowserFailed =
    "The web browser could not be started. Please visit\n%s";
inline constexpr const char* HelpMissing = "The help pages could not be opened:\n%s";
inline constexpr const char* AboutTitle = "About Vidmora";
inline constexpr const char* AboutText =
    "Vidmora %s\n\nBatch video converter for phones, handheld players and discs.\n"
    "Conversions are done by vidmora-encoder on FFmpeg.";
inline constexpr const char* TipCaption = "Tip of the Day";
inline constexpr const char* TipTitle = "Did you know...";

// Fills a printf format (the texts above).
inline std::string fillText(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string fillText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<std::size_t>(n));
  }
  va_end(args);
  return out;
}

}  // namespace vidmora::texts
