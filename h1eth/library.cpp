// building
