
namespace {

// Record is enabled only while the live picture runs and the record-allowed
// flag is set: at live start when the settings were confirmed before, and
// cleared again when the live picture is stopped.
TEST_F(MovRecording, RecordNeedsTheLivePictureAndConfirmedSettings) {
  WriteSettings(COMPRESS_AVI, RECCOND_TIME, kSeconds, Dir() + "/gate.avi");
  WriteRecInt(kIsSetting, 0);
  ASSERT_TRUE(Start());
  Main()->UpdateCommands();
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_MOV_RECORD));
  Main()->OnSemiAnimation();
  ASSERT_TRUE(View()->IsSemiAnimation());
  Main()->UpdateCommands();
  EXPECT_FALSE(Main()->IsRecordAllowed());
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_MOV_RECORD));
  Main()->OnSemiAnimationStop();
  WriteRecInt(kIsSetting, 1);
  app->ExitInstance();
  app.reset();
  ASSERT_TRUE(StartApp());
  Main()->OnSemiAnimation();
  Main()->UpdateCommands();
  EXPECT_TRUE(Main()->IsCommandEnabled(ID_MOV_RECORD));
  Main()->OnSemiAnimationStop();
  Main()->UpdateCommands();
  EXPECT_FALSE(Main()->IsRecordAllowed());
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_MOV_RECORD));
}

// A recording played back: opening it ends the live picture, Play runs it
// with the slider enabled, and its end comes back as the Stop command.
TEST_F(MovRecording, ARecordingPlaysBackToItsEnd) {
  const std::string output = Dir() + "/played.avi";
  WriteSettings(COMPRESS_AVI, RECCOND_TIME, 2, output);
  ASSERT_TRUE(Start());
  StartLive();
  Main()->OnRecord();
  ASSERT_TRUE(WaitFor([&] { return !View()->IsRecording(); }, 60000));
  ASSERT_TRUE(Exists(output));
  Main()->OpenMovie(output);
  EXPECT_FALSE(View()->IsSemiAnimation());
  ASSERT_TRUE(View()->IsMovieOpen());
  Main()->UpdateCommands();
  EXPECT_TRUE(Main()->IsCommandEnabled(ID_MOV_MOVIE_PLAY));
  EXPECT_FALSE(Main()->IsCommandEnabled(ID_MOV_SETTING));
  Main()->OnMoviePlay();
  EXPECT_TRUE(Main()->GetSlider()->IsSliderEnabled());
  ASSERT_TRUE(WaitFor([&] { return Main()->IsToolButtonPressed(ID_MOV_MOVIE_STOP); }, 30000));
  EXPECT_TRUE(View()->IsMovieOpen());
  Main()->OnMovieClose();
  EXPECT_FALSE(View()->IsMovieOpen());
  EXPECT_TRUE(ui.Texts().empty()) << ui.Texts().front();
}

// A file that is not a movie says so and leaves no player open.
TEST_F(MovRecording, AFileThatIsNotAMovieIsRefused) {
  const std::string bogus = Dir() + "/not-a-movie.avi";
  { std::ofstream(bogus) << "RIFF but not really"; }
  ASSERT_TRUE(StartCamera() && StartApp());
  Main()->OpenMovie(bogus);
  EXPECT_FALSE(View()->IsMovieOpen());
  ASSERT_EQ(ui.Texts().size(), 1u);
  EXPECT_EQ(ui.Texts()[0], "Invalid file type.");
}

}  // namespace
